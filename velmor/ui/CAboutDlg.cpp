#include "CAboutDlg.h"

#include "CLinkTicker.h"
#include "SkinFonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(const std::string &siteUrl, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Velmor 정보"));
    setFont(MakeKoreanFont(QStringLiteral("굴림"), 12));
    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/velmor/ui/velmor.png"))
                        .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto *name = new QLabel(QStringLiteral("Velmor 개인 방송 프로그램\n버전 1.0"), this);
    m_ticker = new CLinkTicker(this);
    m_ticker->setFixedHeight(24);
    m_ticker->AddItem(QStringLiteral("퀜타"), siteUrl);
    auto *ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(name, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_ticker, 1);
    bottom->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(bottom);
    setFixedWidth(300);
}

void CAboutDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_ticker->Start(true);
}

#pragma once
// The confirm dialog of a web installation (modal, caption "펠룬", font 굴림
// 9 pt): "%s(을)를 설치합니다.", a frame "설치할 폴더 지정" with the install
// folder and a "..." button, and "설치 시작 ", which ends it with IDYES (6).
// Closing it ends it with IDCANCEL (2).
//
// The folder starts as the Program Files folder joined with the script's
// SubFolder; "..." opens a folder chooser titled "%s(을)를 설치할 폴더를
// 지정하세요." at the current base folder, and a chosen folder becomes the
// base folder (the install folder is it joined with SubFolder).
#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class CConfirmDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInstall = 6; // IDYES
    static constexpr int kClosed = 2;  // IDCANCEL

    // Picks a folder: (parent, title, starting folder) -> the folder, or ""
    // when the user cancels. The dialog uses QFileDialog::getExistingDirectory.
    using FolderChooser = std::function<QString(QWidget *, const QString &, const QString &)>;

    CConfirmDlg(const QString &korName, const QString &programFilesDir, const QString &subFolder,
                QWidget *parent = nullptr);

    void SetFolderChooser(FolderChooser chooser) { m_chooser = std::move(chooser); }

    QString BaseFolder() const { return m_base; }
    QString InstallFolder() const;

    QLabel *Line() const { return m_line; }
    QLineEdit *FolderText() const { return m_folder; }
    QPushButton *BrowseButton() const { return m_browse; }
    QPushButton *StartButton() const { return m_start; }

    // The result as the flow takes it: kInstall or kClosed.
    int DoModal();

    // "...": asks for a folder.
    void OnBrowse();

    static QString Join(const QString &folder, const QString &name);

private:
    void ShowFolder();

    QString m_korName;
    QString m_base;
    QString m_subFolder;
    FolderChooser m_chooser;
    QLabel *m_line = nullptr;
    QLineEdit *m_folder = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_start = nullptr;
};

// A chat window in a process of its own, for the end-to-end test: opens a
// CControlDlg as host or guest on loopback (offscreen) and follows commands
// on standard input, one per line:
//   say <text>   types the text into the input line and presses Enter
//   rename <n>   renames itself through the nickname dialog
//   resize <w> <h> resizes the window
//   about <file> opens the about box and saves a picture of it
//   shot <file>  saves a picture of the window (PNG)
//   dump         prints "LIST <row>" for each user-list row, then the chat
//                display as "CHAT <line>" lines, then "END"
//   quit         closes the window and ends
// It prints "READY <port>" once hosting (host) or once connected (guest)
// and "EVENT <what>" for each report to the main window.
//   chat_window_peer host
//   chat_window_peer guest <port>
#include "CAboutDlg.h"
#include "CChangeName.h"
#include "CChatRichEd.h"
#include "CControlDlg.h"

#include "CChatRoom.h"
#include "CommandLineArgs.h"
#include "IChatMainWindow.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Print(const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class MainWindowReports : public IChatMainWindow {
public:
    void OnChatConnectResult(int ok) override
    {
        Print(ok ? "READY 0" : "EVENT connect-failed");
        if (!ok)
            QCoreApplication::exit(3);
    }
    void OnChatRoomClosed() override
    {
        Print("EVENT room-closed");
        QCoreApplication::exit(4);
    }
    void OnChatRoomFull() override
    {
        Print("EVENT room-full");
        QCoreApplication::exit(5);
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2 || (std::strcmp(argv[1], "guest") == 0 && argc < 3)) {
        std::fprintf(stderr, "usage: chat_window_peer host | guest <port>\n");
        return 2;
    }
    platform::SetMessageBoxHandler([](const platform::MessageBoxRequest &r) {
        Print("BOX " + r.text);
        return platform::IDOK;
    });
    const bool host = std::strcmp(argv[1], "host") == 0;
    CommandLineArgs args;
    args.start = host ? 1 : 2;
    args.lport = 0;
    std::strcpy(args.curl, "127.0.0.1");
    args.cport = host ? 0 : static_cast<std::uint16_t>(std::atoi(argv[2]));

    MainWindowReports reports;
    QWidget mainWindow;
    mainWindow.setGeometry(0, 0, 400, 300);
    auto *dlg = new CControlDlg(&mainWindow, &reports);
    if (!dlg->Create(args)) {
        Print("EVENT create-failed");
        return 1;
    }
    dlg->show();
    if (host)
        Print("READY " + std::to_string(dlg->Room()->ListeningPort()));

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            QCoreApplication::exit(0);
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.rfind("say ", 0) == 0) {
                dlg->InputLine()->setPlainText(QString::fromStdString(line.substr(4)));
                QTest::keyClick(dlg->InputLine(), Qt::Key_Return);
            } else if (line.rfind("rename ", 0) == 0) {
                const QString name = QString::fromStdString(line.substr(7));
                QTimer::singleShot(0, [name] {
                    if (auto *d = qobject_cast<CChangeName *>(QApplication::activeModalWidget())) {
                        d->NameEdit()->setText(name);
                        d->OkButton()->click();
                    }
                });
                dlg->ChangeName();
            } else if (line == "dump") {
                for (int i = 0; i < dlg->UserList()->GetItemCount(); ++i)
                    Print("LIST " + dlg->UserList()->GetItemText(i));
                const QStringList lines = dlg->ChatDisplay()->toPlainText().split(u'\n');
                for (const QString &l : lines)
                    Print("CHAT " + l.toStdString());
                Print("END");
            } else if (line.rfind("resize ", 0) == 0) {
                int w = 0, h = 0;
                if (std::sscanf(line.c_str() + 7, "%d %d", &w, &h) == 2)
                    dlg->resize(w, h);
            } else if (line.rfind("about ", 0) == 0) {
                // The about box, shown for a moment and saved as a picture.
                auto *about = new CAboutDlg("http://127.0.0.1/", dlg);
                about->setAttribute(Qt::WA_DeleteOnClose);
                about->show();
                const QString file = QString::fromStdString(line.substr(6));
                QTimer::singleShot(400, about, [about, file] {
                    about->grab().save(file, "PNG");
                    Print("SHOT");
                    about->close();
                });
            } else if (line.rfind("shot ", 0) == 0) {
                // A picture of the window as it is drawn now.
                dlg->grab().save(QString::fromStdString(line.substr(5)), "PNG");
                Print("SHOT");
            } else if (line == "quit") {
                QCoreApplication::exit(0);
            }
        }
    });
    const int rc = app.exec();
    delete dlg;
    return rc;
}

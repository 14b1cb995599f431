// The updater's four skinned windows in a process of their own, for the
// process tests and for pictures. The skin control is registered in a
// private registry store unless $VELMOR_REGISTRY_DIR names one.
//
//   mirvane_forms_peer shots DIR           pictures (PNG) of the four forms in DIR
//   mirvane_forms_peer message TYPE TEXT   the message box; prints "RESULT n"
//   mirvane_forms_peer download FILES KB DELAY_US [RESULT]
//                                          the download form running a test
//                                          worker; prints "RESULT n"
//   mirvane_forms_peer list INFORMATION    the update list; prints "RESULT n"
//   mirvane_forms_peer status TEXT         the status window, shown and closed
//
// Without a display (no DISPLAY, or QT_QPA_PLATFORM=offscreen) the windows
// write to standard error and take their answers from
// $VELMOR_MESSAGEBOX_ANSWERS. "shots" wants a display (xvfb-run):
//   xvfb-run -a build/ci/tests/mirvane_forms_peer shots /tmp/shots
#include "CDownloadForm.h"
#include "CShowMsgForm.h"
#include "CSkinMessageBox.h"
#include "CSkinProgressBar.h"
#include "CUpdateListForm.h"
#include "TestWorker.h"

#include "platform/GuiMessageBox.h"
#include "platform/Module.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string ProgramFile(const char *name)
{
    const char *dir = std::getenv("VELMOR_PROGRAM_DIR");
    return std::string(dir && *dir ? dir : VELMOR_PROGRAM_DIR) + "/" + name;
}

QString SkinPath()
{
    return QString::fromStdString(ProgramFile("Mirvane.skin"));
}

bool RegisterControl()
{
    platform::CModule module;
    if (!module.Load(ProgramFile("ActSkn43.ocx"))) {
        std::fprintf(stderr, "ActSkn43.ocx: %s\n", module.LastError().c_str());
        return false;
    }
    auto reg = module.Function<HRESULT (*)()>("DllRegisterServer");
    return reg && reg() == S_OK;
}

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool Shot(QWidget &window, const QString &dir, const char *name)
{
    window.show();
    (void)QTest::qWaitForWindowExposed(&window, 2000);
    Pump(300);
    const QString path = dir + u'/' + QString::fromLatin1(name);
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "WROTE" : "FAILED", qPrintable(path));
    window.hide();
    return ok;
}

const char kKorName[] = "벨모어";

const char kInformation[] = "<p><b>벨모어 1.0.0.2</b> 업데이트 내용</p>"
                            "<ul><li>방송 화면이 가끔 멈추던 문제를 고쳤습니다.</li>"
                            "<li>채팅창에서 긴 대화명이 잘리지 않도록 했습니다.</li>"
                            "<li>스크린 캡쳐의 화질을 높였습니다.</li>"
                            "<li>업데이트 속도가 빨라졌습니다.</li></ul>"
                            "<p>자세한 내용은 <a href='http://127.0.0.1/notice'>공지사항</a>을 보십시오.</p>";

int Shots(const QString &dir)
{
    QDir().mkpath(dir);
    bool ok = true;
    {
        CSkinMessageBox box(
            SkinPath(), QString::fromUtf8("다운로드/설치 과정에서 오류가 발생했지만\n\n현재 설치된 버젼이 "
                                          "실행가능한 버젼이므로 실행합니다."));
        ok = box.Create() && Shot(box, dir, "messagebox_ok.png") && ok;
    }
    {
        CSkinMessageBox box(
            SkinPath(),
            QString::fromUtf8("Velmor.exe : 설치하고자 하는 파일의 버젼이 낮습니다.\n\n그래도 설치 "
                              "하시겠습니까?"),
            QStringLiteral("Mirvane"), 4);
        ok = box.Create() && Shot(box, dir, "messagebox_yesno.png") && ok;
    }
    {
        CShowMsgForm status(SkinPath(), QStringLiteral("MsgImg"));
        ok = status.ShowText(QString::fromUtf8("업데이트 정보를 확인하는 중입니다...")) &&
             Shot(status, dir, "showmsg.png") && ok;
        status.Close();
    }
    {
        CTestWorker worker;
        worker.holdBeforeDownload = true;
        CDownloadForm form(SkinPath(), QString::fromUtf8(kKorName), QStringLiteral("TitleImg"), worker);
        ok = form.Create() && ok;
        // Once the worker waits (its first report made), the state of a
        // download part-way, through the same queued calls the worker uses.
        QElapsedTimer wait;
        wait.start();
        while (!worker.holding && wait.elapsed() < 5000)
            Pump(10);
        form.SetStatusText("설치대상 파일 다운로드 중...");
        form.SetFileNameText("Velmor_1.0.0.2.cab");
        form.SetSpeedText("1MB");
        form.SetDownloadProgress(6200, 10000);
        form.SetInstallProgress(3, 8);
        ok = Shot(form, dir, "download.png") && ok;
    }
    {
        CUpdateListForm list(SkinPath(), QString::fromUtf8(kKorName), QStringLiteral("TitleImg"),
                             QString::fromUtf8(kInformation));
        ok = list.Create() && Shot(list, dir, "updatelist.png") && ok;
    }
    return ok ? 0 : 1;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: mirvane_forms_peer shots DIR | message TYPE TEXT | download FILES KB DELAY_US "
                 "[RESULT] | list INFORMATION | status TEXT\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const char *x11 = std::getenv("DISPLAY");
    if (!std::getenv("QT_QPA_PLATFORM") && !(x11 && *x11))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    platform::InstallGuiMessageBox();
    if (argc < 3)
        return Usage();

    std::unique_ptr<QTemporaryDir> store;
    if (!std::getenv("VELMOR_REGISTRY_DIR")) {
        store = std::make_unique<QTemporaryDir>();
        setenv("VELMOR_REGISTRY_DIR", qPrintable(store->path()), 1);
    }
    if (!RegisterControl())
        return 3;

    const std::string mode = argv[1];
    int result = -1;
    if (mode == "shots") {
        return Shots(QString::fromLocal8Bit(argv[2]));
    } else if (mode == "message" && argc >= 4) {
        CSkinMessageBox box(SkinPath(), QString::fromUtf8(argv[3]), QStringLiteral("Mirvane"),
                            static_cast<unsigned>(std::atoi(argv[2])));
        result = box.DoModal();
    } else if (mode == "download" && argc >= 5) {
        CTestWorker worker;
        worker.files = std::atoi(argv[2]);
        worker.bytesPerFile = std::atoll(argv[3]) * 1024;
        worker.readDelay = std::chrono::microseconds(std::atoi(argv[4]));
        if (argc >= 6)
            worker.result = std::atoi(argv[5]);
        CDownloadForm form(SkinPath(), QString::fromUtf8(kKorName), QStringLiteral("TitleImg"), worker);
        result = form.DoModal();
    } else if (mode == "list") {
        CUpdateListForm list(SkinPath(), QString::fromUtf8(kKorName), QStringLiteral("TitleImg"),
                             QString::fromUtf8(argv[2]));
        result = list.DoModal();
    } else if (mode == "status") {
        CShowMsgForm status(SkinPath(), QStringLiteral("MsgImg"));
        result = status.ShowText(QString::fromUtf8(argv[2])) ? 0 : 3;
        status.Close();
    } else {
        return Usage();
    }
    std::printf("RESULT %d\n", result);
    return 0;
}

#pragma once
// The update decision's windows as a test sees them: every status text,
// message box and form is recorded, boxes are answered from a list, and the
// download form runs the real install worker on a thread of its own, as the
// skinned form does (optionally cancelled from the start). Pages go to the
// desktop's browser, which MirvaneTestEnv replaces by a recorder.
#include "CInstallWorker.h"
#include "IUpdateUi.h"

#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Win32Event.h"

#include <string>
#include <thread>
#include <vector>

class RecordingUi final : public IUpdateUi {
public:
    struct Box {
        std::string text;
        unsigned type;
    };

    void ShowStatus(const std::string &text, const std::string &imageName) override
    {
        statuses.push_back(text);
        statusImage = imageName;
        statusOpen = true;
    }
    void CloseStatus() override { statusOpen = false; }
    int MessageBox(const std::string &text, unsigned type) override
    {
        boxes.push_back({text, type});
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        }
        return type == platform::MB_YESNO ? platform::IDYES : platform::IDOK;
    }
    int RunDownloadForm(const installengine::CInstallWorkerOptions &options, const std::string &imageName) override
    {
        ++forms;
        formImage = imageName;
        formOptions = options;
        installengine::CInstallWorker worker(options);
        platform::Event cancel(true, cancelDownload);
        CNullInstallProgress progress;
        int result = INSTALL_WORKER_ERROR;
        std::thread thread([&] { result = worker.Run(cancel.Get(), progress); });
        thread.join();
        workerResult = result;
        return installengine::CInstallWorker::FormResult(result);
    }
    int RunUpdateList(const std::string &information, const std::string &) override
    {
        lists.push_back(information);
        return listAnswer;
    }
    bool OpenUrl(const std::string &url) override { return platform::OpenWithSystemHandler(url); }

    // The texts of the boxes shown, in order.
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Box &b : boxes)
            texts.push_back(b.text);
        return texts;
    }

    std::vector<std::string> statuses;
    std::string statusImage;
    bool statusOpen = false;
    std::vector<Box> boxes;
    std::vector<int> answers;
    int forms = 0;
    std::string formImage;
    installengine::CInstallWorkerOptions formOptions;
    bool cancelDownload = false;
    int workerResult = 0;
    std::vector<std::string> lists;
    int listAnswer = platform::IDYES;
};

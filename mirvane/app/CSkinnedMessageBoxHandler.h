#pragma once
// The updater's message box: the skinned box (the skin file of the
// configuration) for every message the updater and the install engine show,
// with the plain box when the skin cannot be used. Installed as the
// process's message box handler (platform/MessageBox.h), so the install
// worker's questions come here too.
//
// Threads: callable on any thread. Widgets live on the window thread, so a
// request from the install worker is handed there with a blocking queued
// call and its thread waits for the answer, as a modal box blocks it.
//
// Without a display every box is the plain one: caption and text on
// standard error, the answer from $VELMOR_MESSAGEBOX_ANSWERS.
//
// When the skinned box cannot load its skin it would first say so in a box
// of its own; that note is not shown, the plain box with the message itself
// is: one message per failure.
#include "platform/MessageBox.h"

#include <QString>

class CSkinnedMessageBoxHandler {
public:
    CSkinnedMessageBoxHandler(QString skinPath, platform::MessageBoxHandler plain);

    int operator()(const platform::MessageBoxRequest &request);

    // Makes a handler and installs it for the process; the plain one it was
    // given stays reachable through Plain().
    static void Install(const QString &skinPath);
    // The plain box, whatever handler is installed.
    static int Plain(const platform::MessageBoxRequest &request);

private:
    int OnWindowThread(const platform::MessageBoxRequest &request);

    QString m_skinPath;
    platform::MessageBoxHandler m_plain;
    bool m_headless;
    bool m_showing = false; // window thread only
};

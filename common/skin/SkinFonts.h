#pragma once
// The program's texts name the Korean Windows faces ("굴림", "돋움",
// "MS Shell Dlg"). They are mapped once per process to the closest installed
// fonts (Nanum Gothic first), so Korean text renders on any desktop.
#include <QFont>
#include <QString>

void InstallKoreanFontSubstitutes();

// A font of the given face (after substitution), pixel height and weight.
QFont MakeKoreanFont(const QString &face, int pixelHeight, int weight = QFont::Normal);

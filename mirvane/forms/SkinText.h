#pragma once
// Skin elements whose captions are templates ("Caption", "Speed_Txt",
// "Filename_Txt", "Status_Txt" carry one "%s"): the text the form shows in
// them.
#include <QString>

// The template with its first "%s" replaced by `value`. The template comes
// from a skin file, so it is never used as a printf format: "%%" gives "%",
// a further "%s" gives nothing, any other "%" sequence stays as it is.
QString FormatSkinText(const QString &skinTemplate, const QString &value);

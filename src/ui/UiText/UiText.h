#pragma once
// The captions that several windows share, in Russian, one accessor per caption, so that every
// window names the same thing the same way. Texts used by one window only live in that window.
// Each accessor returns a new string; nothing here keeps state.

#include <QString>

namespace Plumeria {

QString UiAppTitle();
QString UiGeneral();
QString UiScales();
QString UiScalesDigi();
QString UiSave();
QString UiCancel();
QString UiClose();
QString UiAdd();
QString UiChange();
QString UiDelete();
QString UiSearch();
QString UiStop();
QString UiLabel();
QString UiLayout();
QString UiRefresh();
QString UiOpenJournal();
QString UiPause();
QString UiResume();
QString UiExit();
QString UiStatus();
QString UiRecentFiles();
QString UiJournal();
QString UiDone();
QString UiBrowse();
QString UiHelp();

/// The `LastIndex + 1` code units of `Source`, the last one included. A negative `LastIndex`
/// gives an empty string; `Source` must hold at least `LastIndex + 1` units otherwise.
QString TextFromUtf16(const char16_t* Source, int LastIndex);

} // namespace Plumeria

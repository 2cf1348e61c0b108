#pragma once
// Opening documents, folders and web addresses with the desktop's default handler. Tests put a
// recorder in its place so that nothing is launched.

#include <QUrl>

#include <functional>

namespace Plumeria {

/// Opens `Url` (a web address or a local file or folder) with the system's default handler.
/// False when no handler took it.
bool OpenWithDefaultHandler(const QUrl& Url);

/// Tests: `Handler` receives every address instead of the desktop; empty puts the desktop back.
void SetDefaultHandlerForTests(std::function<bool(const QUrl&)> Handler);

} // namespace Plumeria

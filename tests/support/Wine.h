#pragma once
// Whether the Windows build of a test runs under Wine rather than on Windows itself. Wine keeps a
// few Windows behaviours differently (a deleted folder lingers until its last handle closes); the
// tests that meet one say so with a skip instead of failing on the emulator.

namespace Plumeria::Test {

/// True in a Windows program that Wine runs; false on Windows and on every other system.
bool RunningUnderWine();

} // namespace Plumeria::Test

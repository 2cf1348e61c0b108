#include "BenchSupport.h"

#include "core/Journal/Journal.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace Plumeria::Bench {

double Median(std::vector<double> Values)
{
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

double Ms(Clock::duration D)
{
    return std::chrono::duration<double, std::milli>(D).count();
}

fs::path MakeFolder(const char* What)
{
    const fs::path Dir =
        fs::temp_directory_path() / ("plumeria-bench-" + std::string(What) + "-" +
                                     std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(Dir);
    return Dir;
}

fs::path UseThrowAwayDataFolder()
{
    const fs::path Data = MakeFolder("data");
#ifdef _WIN32
    _putenv_s("ProgramData", Data.string().c_str());
#else
    setenv("ProgramData", Data.c_str(), 1);
#endif
    ResetJournal();
    return Data;
}

Clock::time_point WriteAndClose(const fs::path& Path, const std::string& Content)
{
    std::ofstream Out(Path, std::ios::binary);
    Out << Content;
    Out.close();
    return Clock::now();
}

std::string PluFile(int Count)
{
    std::string Text;
    for (int I = 1; I <= Count; ++I) {
        const std::string Plu = std::to_string(I);
        Text += "A;" + Plu + ";" + std::to_string(2000000 + I) + ";" +
                std::to_string(100 + I % 900) + ",50;0;0;" + std::to_string(I % 30) + ";Article " +
                Plu + "\r\n";
    }
    return Text;
}

} // namespace Plumeria::Bench

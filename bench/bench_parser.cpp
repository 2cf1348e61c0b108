// PLU file parser throughput and peak memory on a file of every possible article number
// (999,997 articles, about 60 MB in code page 1251), with `wc -l` on the same file as a yardstick.
//
//   bench_parser [--articles N] [--runs R] [--keep]
//
// Peak memory is the growth of the process's resident high-water mark during one parse: the
// mark is reset (/proc/self/clear_refs) right before each parse when the kernel allows it, and
// the resident size at that moment is the baseline.

#include "core/PluCsv/PluCsv.h"
#include "core/Text/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long StatusKb(const char* Field)
{
    std::ifstream In("/proc/self/status");
    std::string Line;
    const std::string Prefix = std::string(Field) + ":";
    while (std::getline(In, Line))
        if (Line.rfind(Prefix, 0) == 0)
            return std::strtol(Line.c_str() + Prefix.size(), nullptr, 10);
    return -1;
}

bool ResetPeak()
{
    std::ofstream Out("/proc/self/clear_refs");
    Out << "5";
    Out.flush();
    return static_cast<bool>(Out);
}

long MaxRssKb()
{
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    return Usage.ru_maxrss;
}

std::string To1251(const char* Utf8)
{
    std::string Out;
    if (!Plumeria::EncodeCodePage(Utf8, 1251, Out)) {
        std::fprintf(stderr, "cannot encode %s\n", Utf8);
        std::exit(2);
    }
    return Out;
}

/// Writes the file in pieces so the generator itself holds little memory.
std::uintmax_t WriteArticles(const std::filesystem::path& Path, int Articles)
{
    const char* FirstWords[] = {"Колбаса", "Сыр",     "Молоко",   "Хлеб",    "Масло",
                                "Сосиски", "Ветчина", "Творог",   "Кефир",   "Печенье",
                                "Конфеты", "Яблоки",  "Говядина", "Свинина", "Филе куриное"};
    const char* SecondWords[] = {"докторская",  "российский", "пастеризованное",
                                 "ржаной",      "сливочное",  "молочные",
                                 "в/к",         "9%",         "1%",
                                 "овсяное",     "шоколадные", "сезонные",
                                 "охлаждённая", "вырезка",    "весовое"};
    std::vector<std::string> First, Second;
    for (const char* W : FirstWords)
        First.push_back(To1251(W));
    for (const char* W : SecondWords)
        Second.push_back(To1251(W));

    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    std::string Buffer;
    for (int I = 0; I < Articles; ++I) {
        // A permutation of 1..999997, so the numbers do not arrive in order.
        const long long Plu = (static_cast<long long>(I) * 7919) % Plumeria::MaxPluNumber + 1;
        Buffer += "A;" + std::to_string(Plu) + ";";
        if (I % 4 != 0)
            Buffer += std::to_string(4600000000000LL + Plu);
        Buffer += ";" + std::to_string(10 + I % 5000) + "," + std::to_string(10 + I % 90) + ";";
        Buffer += (I % 3 == 0) ? "1;0;" : "0;1;";
        Buffer += std::to_string(I % 60) + ";";
        Buffer += First[I % First.size()] + " " + Second[(I / 7) % Second.size()] + " " +
                  std::to_string(I % 1000) + "\r\n";
        if (Buffer.size() > (1 << 20)) {
            Out.write(Buffer.data(), static_cast<std::streamsize>(Buffer.size()));
            Buffer.clear();
        }
    }
    Out.write(Buffer.data(), static_cast<std::streamsize>(Buffer.size()));
    Out.close();
    if (!Out) {
        std::fprintf(stderr, "cannot write %s\n", Path.c_str());
        std::exit(2);
    }
    return std::filesystem::file_size(Path);
}

double Seconds(Clock::duration D)
{
    return std::chrono::duration<double>(D).count();
}

} // namespace

int main(int Argc, char** Argv)
{
    int Articles = Plumeria::MaxPluNumber;
    int Runs = 5;
    bool Keep = false;
    for (int I = 1; I < Argc; ++I) {
        const std::string Arg = Argv[I];
        if (Arg == "--articles" && I + 1 < Argc)
            Articles = std::clamp(std::atoi(Argv[++I]), 1, Plumeria::MaxPluNumber);
        else if (Arg == "--runs" && I + 1 < Argc)
            Runs = std::max(1, std::atoi(Argv[++I]));
        else if (Arg == "--keep")
            Keep = true;
        else {
            std::fprintf(stderr, "usage: bench_parser [--articles N] [--runs R] [--keep]\n");
            return 2;
        }
    }

    const auto Dir = std::filesystem::temp_directory_path() /
                     ("plumeria-bench-parser-" + std::to_string(getpid()));
    std::filesystem::create_directories(Dir);
    const auto File = Dir / "articles-1251.csv";
    const auto GenStart = Clock::now();
    const std::uintmax_t Bytes = WriteArticles(File, Articles);
    const double Mb = static_cast<double>(Bytes) / 1e6;
    std::printf("file: %s\n  %d articles, %.1f MB, code page 1251, CR LF (generated in %.2f s)\n",
                File.c_str(), Articles, Mb, Seconds(Clock::now() - GenStart));
    malloc_trim(0);

    std::vector<double> Times;
    std::vector<double> CpuTimes;
    long PeakKb = 0;
    bool HwmReset = true;
    for (int Run = 0; Run < Runs; ++Run) {
        malloc_trim(0);
        HwmReset = ResetPeak() && HwmReset;
        const long BaseRss = StatusKb("VmRSS");
        const long BaseMax = MaxRssKb();
        const auto Start = Clock::now();
        const std::clock_t CpuStart = std::clock();
        {
            Plumeria::TPluParseResult Result;
            Plumeria::ParsePluFile(File, 1251, Result);
            Times.push_back(Seconds(Clock::now() - Start));
            CpuTimes.push_back(static_cast<double>(std::clock() - CpuStart) / CLOCKS_PER_SEC);
            const long Hwm = StatusKb("VmHWM");
            PeakKb = std::max(PeakKb, HwmReset ? Hwm - BaseRss : MaxRssKb() - BaseMax);
            if (static_cast<int>(Result.Items.size()) != Articles || !Result.Errors.empty()) {
                std::fprintf(stderr, "unexpected result: %zu items, %zu errors\n",
                             Result.Items.size(), Result.Errors.size());
                return 1;
            }
        }
    }
    std::sort(Times.begin(), Times.end());
    std::sort(CpuTimes.begin(), CpuTimes.end());
    const double Best = Times.front();
    const double Median = Times[Times.size() / 2];
    const double PeakMb = static_cast<double>(PeakKb) * 1024 / 1e6;
    std::printf("ParsePluFile (%d runs): best %.3f s (%.0f MB/s), median %.3f s (%.0f MB/s)\n",
                Runs, Best, Mb / Best, Median, Mb / Median);
    std::printf("  processor time: best %.3f s (%.0f MB/s), median %.3f s\n", CpuTimes.front(),
                Mb / CpuTimes.front(), CpuTimes[CpuTimes.size() / 2]);
    std::printf("  peak memory during one parse: %.1f MB = %.2f x file size (%s)\n", PeakMb,
                PeakMb / Mb, HwmReset ? "VmHWM after reset" : "ru_maxrss growth, first run only");

    // Yardstick: counting the lines of the same (cached) file.
    double WcBest = 1e9;
    const std::string Command = "wc -l '" + File.string() + "' > /dev/null";
    for (int Run = 0; Run < Runs; ++Run) {
        const auto Start = Clock::now();
        if (std::system(Command.c_str()) != 0) {
            std::fprintf(stderr, "wc -l failed\n");
            break;
        }
        WcBest = std::min(WcBest, Seconds(Clock::now() - Start));
    }
    std::printf("wc -l (best of %d, process start included): %.3f s (%.0f MB/s); parse/wc = %.1f\n",
                Runs, WcBest, Mb / WcBest, Best / WcBest);

    if (!Keep)
        std::filesystem::remove_all(Dir);
    return 0;
}

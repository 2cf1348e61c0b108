// Writes a starting corpus for zip_reader_fuzz: well-formed archives of every layout the reader
// knows (stored, deflated, empty, several members, ZIP64, a comment), one file each.
//   zip_fuzz_seeds FOLDER

#include "support/ZipBuilder.h"

#include <filesystem>
#include <fstream>
#include <iostream>

int main(int Count, char** Args)
{
    using namespace Plumeria::Test;
    if (Count != 2) {
        std::cerr << "usage: zip_fuzz_seeds FOLDER\n";
        return 2;
    }
    const std::filesystem::path Folder = Args[1];
    std::filesystem::create_directories(Folder);
    const std::string Text = "PlumeriaBridge article line;1;2;3\r\n";
    const std::vector<std::pair<std::string, std::string>> Seeds = {
        {"deflated.zip", BuildZip({{"PlumeriaBridge.exe", Text + Text + Text, true}})},
        {"stored.zip", BuildZip({{"PlumeriaBridge", Text, false}})},
        {"empty-member.zip", BuildZip({{"PlumeriaBridge.exe", "", true}})},
        {"no-members.zip", BuildZip({})},
        {"several.zip",
         BuildZip({{"bin/", "", false}, {"bin\\x.exe", Text, true}, {"y", "z", false}})},
        {"zip64.zip", BuildZip({{"a", Text, true}, {"b", Text, false}}, {true, ""})},
        {"comment.zip", BuildZip({{"a", Text, true}}, {false, "a comment"})},
    };
    for (const auto& [Name, Bytes] : Seeds) {
        std::ofstream Out(Folder / Name, std::ios::binary);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
        if (!Out) {
            std::cerr << "cannot write " << (Folder / Name) << "\n";
            return 1;
        }
    }
    return 0;
}

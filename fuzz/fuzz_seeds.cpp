// Writes the seed corpus of the analysis fuzzer: short generated streams of both
// packet sizes, with and without faults, each behind the two chunking bytes.
// Usage: orvane-fuzz-seeds DIRECTORY

#include "analysis/CTsGenerator.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 1;
    }
    std::vector<CTsGeneratorConfig> configs(8);
    for (std::size_t i = 0; i < configs.size(); ++i)
    {
        CTsGeneratorConfig& c = configs[i];
        c.bitRate = 1'000'000;
        c.durationSeconds = 0.12; // about 15 kB: long enough for PCR pairs and every table
        c.programs = 1 + static_cast<int>(i % 4);
        c.packetSize = i % 2 == 0 ? 188 : 204;
    }
    configs[2].leadingGarbage = 77;
    configs[3].garbageEvery = 20;
    configs[3].garbageBytes = 5;
    configs[4].dropEvery = 3;
    configs[5].ccErrorEvery = 4;
    configs[6].pcrStart = (std::uint64_t{1} << 33) * 300 - 27'000'000 / 20;
    configs[7].programs = 40;
    configs[7].bitRate = 8'000'000;
    configs[7].durationSeconds = 0.02;

    for (std::size_t i = 0; i < configs.size(); ++i)
    {
        CTsGenerator generator(configs[i]);
        std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i)};
        const std::vector<std::uint8_t> stream = generator.GenerateToMemory();
        bytes.insert(bytes.end(), stream.begin(), stream.end());
        const std::string path = std::string(argv[1]) + "/seed-" + std::to_string(i) + ".ts";
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
            std::fclose(file) != 0)
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

// orvane-cli analyze / generate: the file analysis of the Play tab with both
// trees, as text or JSON, and the sample stream generator.

#include "CliCommands.h"
#include "analysis/CDecodeStream.h"
#include "analysis/CFileAnalysis.h"
#include "analysis/CTsGenerator.h"
#include "analysis/ITreeSink.h"
#include "common/FormatThousands.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

namespace
{
struct AnalyzeOptions
{
    std::string file;
    bool json = false;
    std::string separator;
    bool tr101290 = false;
    double pidTimeout = 5.0;
};

// Keeps the last tree that UpdateDisplay gave.
class CCollectingTreeSink final : public ITreeSink
{
public:
    void ShowTree(const std::vector<CTreeNode>& roots) override { m_roots = roots; }
    const std::vector<CTreeNode>& Roots() const { return m_roots; }

private:
    std::vector<CTreeNode> m_roots;
};

void PrintTree(std::ostream& out, const CTreeNode& node, int depth)
{
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node.text << '\n';
    for (const CTreeNode& child : node.children)
        PrintTree(out, child, depth + 1);
}

nlohmann::ordered_json TreeJson(const CTreeNode& node)
{
    nlohmann::ordered_json j;
    j["text"] = node.text;
    if (!node.key.empty())
    {
        j["key"] = node.key;
        j["value"] = node.value;
    }
    if (node.hasColour)
    {
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02X%02X%02X", node.colour & 0xFF, (node.colour >> 8) & 0xFF,
                      (node.colour >> 16) & 0xFF);
        j["colour"] = colour;
    }
    if (!node.children.empty())
    {
        j["children"] = nlohmann::ordered_json::array();
        for (const CTreeNode& child : node.children)
            j["children"].push_back(TreeJson(child));
    }
    return j;
}

nlohmann::ordered_json TreesJson(const std::vector<CTreeNode>& roots)
{
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const CTreeNode& root : roots)
        j.push_back(TreeJson(root));
    return j;
}

nlohmann::ordered_json Tr101290Json(const CTr101290Counters& counters)
{
    nlohmann::ordered_json j = {{"p1", nlohmann::ordered_json::object()}, {"p2", nlohmann::ordered_json::object()}};
    for (const CTr101290Counters::Info& info : CTr101290Counters::kInfo)
        j[info.priority == 1 ? "p1" : "p2"][info.key] = counters[info.indicator];
    return j;
}

int RunAnalyze(const AnalyzeOptions& options)
{
    const std::string separator = options.separator.empty() ? LocaleThousandsSeparator() : options.separator;
    CDecodeStream decoder;
    decoder.SetThousandsSeparator(separator);
    CCollectingTreeSink programs;
    CCollectingTreeSink pids;
    decoder.SetProgTree(&programs);
    decoder.SetPidTree(&pids);

    errno = 0;
    const CFileAnalysisResult result = CFileAnalysis::Analyse(options.file, decoder, separator);
    if (!result.ok)
    {
        const int error = errno;
        std::cerr << "orvane-cli analyze: cannot read " << options.file << ": "
                  << (error != 0 ? std::strerror(error) : "not a readable file") << '\n';
        return 1;
    }
    decoder.UpdateDisplay(1, 1);

    CTr101290Counters indicators;
    std::int64_t judgedBytes = 0;
    if (options.tr101290 && !CFileAnalysis::JudgeWholeFile(options.file, options.pidTimeout, indicators, judgedBytes))
    {
        std::cerr << "orvane-cli analyze: cannot read " << options.file << " to its end: " << std::strerror(errno)
                  << '\n';
        return 1;
    }

    if (options.json)
    {
        nlohmann::ordered_json j;
        j["file"] = {{"path", options.file},
                     {"fileSize", result.fileSize},
                     {"packetSize", result.packetSize},
                     {"bytesBeforeFirstPacket", result.bytesBeforeFirstPacket},
                     {"bytesAfterLastPacket", result.bytesAfterLastPacket},
                     {"packetCount", result.packetCount},
                     {"bitRate", static_cast<std::int64_t>(result.bitRate)},
                     {"pcrFound", result.pcrFound},
                     {"playTimeMs", result.playTimeMs},
                     {"fileTotTdtTime", result.fileTotTdtTime},
                     {"syncLoss", decoder.m_syncLoss.load()}};
        j["fileInformation"] = TreeJson(result.fileInformation);
        j["programInformation"] = TreesJson(programs.Roots());
        j["pidInformation"] = TreesJson(pids.Roots());
        if (options.tr101290)
            j["tr101290"] = Tr101290Json(indicators);
        // File names need not be UTF-8 on Linux: invalid bytes become U+FFFD.
        std::cout << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    else
    {
        std::cout << "File Information\n";
        PrintTree(std::cout, result.fileInformation, 1);
        std::cout << "Program Information\n";
        for (const CTreeNode& root : programs.Roots())
            PrintTree(std::cout, root, 1);
        std::cout << "PID Information\n";
        for (const CTreeNode& root : pids.Roots())
            PrintTree(std::cout, root, 1);
        if (options.tr101290)
        {
            std::cout << "TR 101 290 (" << FormatThousands(judgedBytes, separator) << " bytes)\n";
            for (const CTr101290Counters::Info& info : CTr101290Counters::kInfo)
                std::cout << "  Priority " << info.priority << ' ' << info.name << ": "
                          << FormatThousands(static_cast<std::int64_t>(indicators[info.indicator]), separator) << '\n';
        }
    }
    std::cout.flush();
    if (result.packetSize == 0)
    {
        std::cerr << "orvane-cli analyze: " << options.file << " is not a transport stream (no 188- or 204-byte "
                  << "packets found)\n";
        return 2;
    }
    return 0;
}

int RunGenerate(const std::string& out, const CTsGeneratorConfig& config)
{
    CTsGenerator generator(config);
    const std::string problem = generator.Validate();
    if (!problem.empty())
    {
        std::cerr << "orvane-cli generate: " << problem << '\n';
        return 1;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(out.c_str(), "wb"), &std::fclose);
    if (!file)
    {
        std::cerr << "orvane-cli generate: cannot create " << out << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    const bool written = generator.Generate([&file](const std::uint8_t* data, std::size_t length) {
        return std::fwrite(data, 1, length, file.get()) == length;
    });
    const int closeResult = std::fclose(file.release());
    if (!written || closeResult != 0)
    {
        std::cerr << "orvane-cli generate: cannot write " << out << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    const CTsGeneratorStats& stats = generator.Stats();
    std::cout << "wrote " << stats.bytes << " bytes, " << stats.packets << " packets of " << config.packetSize
              << " bytes, " << config.programs << " programs to " << out << '\n';
    return 0;
}
} // namespace

void AddAnalyzeCommands(CLI::App& app, int& exitCode)
{
    auto analyzeOptions = std::make_shared<AnalyzeOptions>();
    CLI::App* analyze = app.add_subcommand(
        "analyze", "Analyse a transport stream file as the Play tab does: File, Program and PID information");
    analyze->add_option("FILE", analyzeOptions->file, "Transport stream file (.ts)")->required();
    analyze->add_flag("--json", analyzeOptions->json, "Print the same information as JSON");
    analyze->add_option("--separator", analyzeOptions->separator,
                        "Thousands separator of the figures (default: the user's locale, else '.')");
    analyze->add_flag("--tr101290", analyzeOptions->tr101290,
                      "Also judge the whole file by ETSI TR 101 290 (priority 1 and 2): one count per indicator. "
                      "Counts are findings, not failures: the exit status stays 0 (1: the file cannot be read, "
                      "2: not a transport stream)");
    analyze
        ->add_option("--pid-timeout", analyzeOptions->pidTimeout,
                     "TR 101 290 PID_error: seconds a PID listed in a PMT may be absent")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    analyze->callback([analyzeOptions, &exitCode] { exitCode = RunAnalyze(*analyzeOptions); });

    auto out = std::make_shared<std::string>();
    auto config = std::make_shared<CTsGeneratorConfig>();
    CLI::App* generate = app.add_subcommand(
        "generate", "Write a deterministic sample transport stream (PAT, PMT, SDT, TDT, TOT, PCR, PES)");
    generate->add_option("OUT", *out, "Output file (.ts)")->required();
    generate->add_option("--programs", config->programs, "Number of programs (1-1000)")->capture_default_str();
    generate->add_option("--rate", config->bitRate, "Transport rate, bit/s")->capture_default_str();
    generate->add_option("--duration", config->durationSeconds, "Stream time, seconds")->capture_default_str();
    generate->add_option("--packet-size", config->packetSize, "Packet size: 188 or 204")->capture_default_str();
    generate->add_option("--start-time", config->startTime, "TDT/TOT time of the first packet, s since 1970")
        ->capture_default_str();
    generate->add_option("--pcr-start", config->pcrStart, "PCR of the first packet, 27 MHz ticks")
        ->capture_default_str();
    generate->add_option("--rate-change", config->rateChangeSeconds, "Stream time at which the rate changes, s");
    generate->add_option("--second-rate", config->secondBitRate, "Rate after --rate-change, bit/s");
    generate->add_option("--leading-garbage", config->leadingGarbage, "Garbage bytes before the first packet");
    generate->add_option("--garbage-every", config->garbageEvery, "A garbage burst after every N packets");
    generate->add_option("--garbage-bytes", config->garbageBytes, "Bytes per garbage burst");
    generate->add_option("--drop-every", config->dropEvery, "Lose every N-th audio packet");
    generate->add_option("--cc-error-every", config->ccErrorEvery, "Skip a continuity count every N-th video packet");
    generate->callback([out, config, &exitCode] { exitCode = RunGenerate(*out, *config); });
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target without libFuzzer: every file of the corpus folders
// given, then, for --seconds, mutations of them (bit flips, byte writes,
// splices and cuts) from a fixed seed, so that a regression run is
// repeatable. Prints how many inputs ran.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> readCorpus(const std::string &folder)
{
    std::vector<std::vector<uint8_t>> inputs;
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return inputs;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream file(folder + "/" + entry->d_name, std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    closedir(dir);
    return inputs;
}

std::vector<uint8_t> mutate(const std::vector<std::vector<uint8_t>> &corpus, std::mt19937 &rng)
{
    std::vector<uint8_t> input =
        corpus.empty() ? std::vector<uint8_t>(64, 0) : corpus[rng() % corpus.size()];
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        switch (rng() % 5) {
        case 0:
            if (!input.empty())
                input[rng() % input.size()] ^= uint8_t(1u << (rng() % 8));
            break;
        case 1:
            if (!input.empty())
                input[rng() % input.size()] = uint8_t(rng());
            break;
        case 2: { // an interesting value at a random place
            static const uint8_t values[] = {0, 1, 2, 3, 4, 99, 100, 101, 127, 128, 254, 255};
            if (!input.empty())
                input[rng() % input.size()] = values[rng() % sizeof values];
            break;
        }
        case 3: // splice in a piece of another input
            if (!corpus.empty()) {
                const auto &other = corpus[rng() % corpus.size()];
                if (!other.empty()) {
                    const size_t from = rng() % other.size();
                    const size_t length = std::min<size_t>(other.size() - from, 1 + rng() % 128);
                    const size_t at = input.empty() ? 0 : rng() % input.size();
                    input.insert(input.begin() + long(at), other.begin() + long(from),
                                 other.begin() + long(from + length));
                }
            }
            break;
        case 4:
            if (input.size() > 1)
                input.resize(rng() % input.size());
            break;
        }
    }
    if (input.size() > 16384)
        input.resize(16384);
    return input;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 0;
    unsigned seed = 1;
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = unsigned(std::strtoul(argv[++i], nullptr, 10));
        else {
            auto inputs = readCorpus(argv[i]);
            corpus.insert(corpus.end(), inputs.begin(), inputs.end());
        }
    }
    size_t runs = 0;
    for (const auto &input : corpus) {
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++runs;
    }
    std::mt19937 rng(seed);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const std::vector<uint8_t> input = mutate(corpus, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++runs;
    }
    std::printf("%zu corpus inputs, %zu runs in all\n", corpus.size(), runs);
    return 0;
}

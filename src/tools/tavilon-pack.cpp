// tavilon-pack: packs files into stored RAR volumes.
//
//   tavilon-pack [--format 4|5] [--volume-size SIZE] [--password P] [--encrypt-headers]
//                [--blake2] [--name NAME] FILE... OUTDIR
//
// Writes NAME.part1.rar ... into OUTDIR and prints one volume path per line.

#include "rar/ArchiveWriter.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: tavilon-pack [--format 4|5] [--volume-size SIZE] [--password P] [--encrypt-headers]\n"
    "                    [--blake2] [--name NAME] FILE... OUTDIR\n"
    "  --format 4|5       RAR 1.5-4.x or RAR 5.0 (default 5)\n"
    "  --volume-size SIZE bytes per volume, with an optional K, M or G suffix (default 100M)\n"
    "  --password P       encrypt the data with AES\n"
    "  --encrypt-headers  encrypt the headers too (needs --password)\n"
    "  --blake2           BLAKE2sp checksums instead of CRC32 (RAR 5.0)\n"
    "  --name NAME        base name of the volumes (default: the first file's name without\n"
    "                     extension)\n"
    "Writes NAME.part1.rar ... into OUTDIR and prints one volume path per line.\n";

int Usage(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "tavilon-pack: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

int main(int argc, char** argv) {
    rar::PackOptions options;
    std::string name;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)option;
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--format") {
            const char* v = value("--format");
            if (v == nullptr || (std::strcmp(v, "4") != 0 && std::strcmp(v, "5") != 0))
                return Usage("--format takes 4 or 5");
            options.format = v[0] == '4' ? rar::Format::Rar4 : rar::Format::Rar5;
        } else if (arg == "--volume-size") {
            const char* v = value("--volume-size");
            options.volumeSize = v == nullptr ? 0 : rar::ParseVolumeSize(v);
            if (options.volumeSize == 0)
                return Usage("--volume-size takes a size such as 100M");
        } else if (arg == "--password") {
            const char* v = value("--password");
            if (v == nullptr || *v == '\0')
                return Usage("--password takes a password");
            options.password = v;
        } else if (arg == "--encrypt-headers") {
            options.encryptHeaders = true;
        } else if (arg == "--blake2") {
            options.blake2 = true;
        } else if (arg == "--name") {
            const char* v = value("--name");
            if (v == nullptr || *v == '\0')
                return Usage("--name takes a name");
            name = v;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                paths.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() < 2)
        return Usage("give at least one FILE and the OUTDIR");
    if (options.encryptHeaders && options.password.empty())
        return Usage("--encrypt-headers needs --password");
    if (options.blake2 && options.format == rar::Format::Rar4)
        return Usage("--blake2 needs --format 5");
    const std::string outDir = paths.back();
    paths.pop_back();
    std::vector<rar::PackInput> inputs;
    for (const std::string& p : paths)
        inputs.push_back({p, BaseName(p)});
    if (name.empty())
        name = WithoutExtension(BaseName(paths.front()));
    try {
        for (const std::string& volume : rar::PackArchive(inputs, outDir, name, options))
            std::printf("%s\n", volume.c_str());
    } catch (const rar::PackError& e) {
        std::fprintf(stderr, "tavilon-pack: %s\n", e.what());
        return 1;
    }
    return 0;
}

// oag-pack: makes, lists and unpacks OAG image archives.
//
//   oag-pack create ARCHIVE [-f FORMAT] [NAME=]IMAGE ...
//   oag-pack list ARCHIVE
//   oag-pack extract ARCHIVE ENTRY OUT.bmp
//
// FORMAT (applies to the images after it, default argb8888): argb8888,
// rgb888, rgb565, argb4444, or the same with "-lzss" for the packed forms,
// or the format number 0 to 7. NAME defaults to the image's file name
// without its folder; names are given in UTF-8 and stored as Shift-JIS.
// `list` prints one line per entry:
//   <index> <name> <width>x<height> format <n> <kind> offset <offset> size <size>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/image_pack.h"
#include "platform/image/image.h"
#include "platform/sys/file.h"
#include "platform/sys/printable.h"
#include "platform/text/codepage.h"
#include "tools/output.h"

namespace {

const char* const kFormatNames[8] = {"argb8888", "rgb888", "rgb565", "argb4444",
                                     "argb8888-lzss", "rgb888-lzss", "rgb565-lzss", "argb4444-lzss"};

// One line on stderr. Names and paths come from the command line and the
// archive, and library messages quote them: the whole line is escaped, so
// that no terminal sequence passes.
void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "oag-pack: %s\n", platform::PrintableText(line).c_str());
}

int Usage() {
    fprintf(stderr,
            "usage: oag-pack create ARCHIVE [-f FORMAT] [NAME=]IMAGE ...\n"
            "       oag-pack list ARCHIVE\n"
            "       oag-pack extract ARCHIVE ENTRY OUT.bmp\n"
            "FORMAT: argb8888 rgb888 rgb565 argb4444 (add -lzss to pack) or 0-7\n");
    return 2;
}

// A directory opens for reading like a file on this system; catch it first
// so that the message says what is wrong.
bool IsDirectory(const char* path) {
    struct stat info;
    if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
        Say("%s is a directory", path);
        return true;
    }
    return false;
}

bool ParseFormat(const char* text, uint8_t* format) {
    for (uint8_t i = 0; i < 8; ++i) {
        if (strcmp(text, kFormatNames[i]) == 0) {
            *format = i;
            return true;
        }
    }
    if (text[0] >= '0' && text[0] <= '7' && text[1] == 0) {
        *format = uint8_t(text[0] - '0');
        return true;
    }
    return false;
}

int Create(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    const char* archive = argv[2];
    if (IsDirectory(archive)) {
        return 1;
    }
    uint8_t format = 0;
    std::vector<std::string> names;
    std::vector<platform::Image> images;
    std::vector<uint8_t> formats;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "-f") == 0) {
            if (i + 1 >= argc || !ParseFormat(argv[i + 1], &format)) {
                Say("bad format");
                return Usage();
            }
            ++i;
            continue;
        }
        std::string arg = argv[i];
        std::string name, path = arg;
        const size_t eq = arg.find('=');
        if (eq != std::string::npos) {
            name = arg.substr(0, eq);
            path = arg.substr(eq + 1);
        } else {
            const size_t slash = path.find_last_of('/');
            name = slash == std::string::npos ? path : path.substr(slash + 1);
        }
        std::string sjis;
        if (!platform::Utf8ToCp932(name.c_str(), &sjis)) {
            Say("name \"%s\" has characters Shift-JIS cannot hold", name.c_str());
            return 1;
        }
        if (sjis.empty() || sjis.size() > OrvaImagePack::kNameSize) {
            Say("name \"%s\" is %zu Shift-JIS bytes; 1 to %u fit", name.c_str(), sjis.size(),
                    OrvaImagePack::kNameSize);
            return 1;
        }
        for (size_t k = 0; k < names.size(); ++k) {
            if (OrvaImagePack::NameMatches(sjis.c_str(), names[k].c_str(), names[k].size())) {
                Say("two entries are named \"%s\"; only the first could be extracted",
                        name.c_str());
                return 1;
            }
        }
        if (IsDirectory(path.c_str())) {
            return 1;
        }
        platform::Image image;
        std::string error;
        if (!platform::DecodeImageFile(path.c_str(), &image, &error)) {
            Say("%s: %s", path.c_str(), error.c_str());
            return 1;
        }
        names.push_back(sjis);
        images.push_back(std::move(image));
        formats.push_back(format);
    }
    if (images.empty()) {
        return Usage();
    }
    std::vector<OrvaImagePackSource> sources;
    for (size_t i = 0; i < images.size(); ++i) {
        sources.push_back({names[i], &images[i], formats[i]});
    }
    std::vector<uint8_t> bytes;
    if (!OrvaImagePack::Build(sources, &bytes)) {
        Say("cannot build the archive");
        return 1;
    }
    // A write that fails midway leaves the archive that was there whole.
    std::string error;
    if (!platform::WriteWholeFile(archive, bytes.data(), bytes.size(), &error)) {
        Say("%s", error.c_str());
        return 1;
    }
    return 0;
}

int List(int argc, char** argv) {
    if (argc != 3) {
        return Usage();
    }
    if (IsDirectory(argv[2])) {
        return 1;
    }
    std::vector<OrvaImagePackEntry> entries;
    if (!OrvaImagePack::ReadDirectory(argv[2], &entries)) {
        Say("%s is not a readable OAG archive", argv[2]);
        return 1;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const OrvaImagePackEntry& e = entries[i];
        ToolPrint("%zu %s %ux%u format %u %s offset %u size %u\n", i,
                  platform::PrintableText(platform::Cp932ToUtf8(e.name.c_str())).c_str(),
                  e.width, e.height, e.format, kFormatNames[e.format], e.offset, e.size);
    }
    return ToolOutputEnd("oag-pack") ? 0 : 1;
}

int Extract(int argc, char** argv) {
    if (argc != 5) {
        return Usage();
    }
    if (IsDirectory(argv[2])) {
        return 1;
    }
    std::string entry;
    if (!platform::Utf8ToCp932(argv[3], &entry)) {
        Say("entry name has characters Shift-JIS cannot hold");
        return 1;
    }
    platform::Image image;
    if (!OrvaImagePack::LoadEntry(argv[2], entry.c_str(), &image)) {
        Say("no readable entry \"%s\" in %s", argv[3], argv[2]);
        return 1;
    }
    std::string error;
    if (!platform::WriteBmp24(argv[4], image.argb.data(), image.width, image.height, image.width * 4, &error)) {
        Say("%s", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit the write is to fail with EFBIG rather than the
    // signal end the process: only then is the unfinished file removed and
    // the failure said.
    ToolOutputBegin();
    if (argc < 2) {
        return Usage();
    }
    if (strcmp(argv[1], "create") == 0) {
        return Create(argc, argv);
    }
    if (strcmp(argv[1], "list") == 0) {
        return List(argc, argv);
    }
    if (strcmp(argv[1], "extract") == 0) {
        return Extract(argc, argv);
    }
    return Usage();
}

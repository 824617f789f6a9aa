// Rebuilding the database from the font directory, and the Ghostscript list.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "database/database.h"
#include "database/database_files.h"
#include "database/font_naming.h"
#include "font/truetype_font.h"
#include "server/messages.h"
#include "server/settings.h"

int enterFontDirectory()
{
    // Resolved on the first entry, which comes before any change of
    // directory, and again only if the setting changes; messages keep
    // showing the directory as it was given.
    static std::string given, resolved;
    if (resolved.empty() || given != settings.fontDirectory) {
        given = settings.fontDirectory;
        resolved = given;
        if (!given.empty() && given[0] != '/')
            if (char* start = getcwd(nullptr, 0)) {
                resolved = std::string(start) + "/" + given;
                std::free(start);
            }
    }
    return chdir(resolved.c_str());
}

std::string cachePath(const char* fileName)
{
    struct stat status;
    if (stat(settings.cacheDirectory, &status) != 0) {
        logError("directory \"%s\" does not exist!", settings.cacheDirectory);
        return {};
    }
    if (!S_ISDIR(status.st_mode)) {
        logError("\"%s\" is not a directory!", settings.cacheDirectory);
        return {};
    }
    return std::string(settings.cacheDirectory) + "/" + fileName;
}

namespace {

// At least one byte before ".ttf", the ending in any case, and a regular
// file once symbolic links are followed.
bool isFontFileName(const char* name)
{
    size_t length = std::strlen(name);
    if (length < 5 || name[length - 4] != '.')
        return false;
    const char* ending = name + length - 3;
    if (std::tolower(static_cast<unsigned char>(ending[0])) != 't'
        || std::tolower(static_cast<unsigned char>(ending[1])) != 't'
        || std::tolower(static_cast<unsigned char>(ending[2])) != 'f')
        return false;
    struct stat status;
    return stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

// Adds every usable font of the current directory; dirName is the directory
// as it appears in the stored paths ("." for the font directory itself).
int syncDirectory(DatabaseWriter& writer, const char* dirName, bool gslist)
{
    if (!gslist)
        logInfo("Sync in directory \"%s/%s\".", settings.fontDirectory, dirName);
    DIR* listing = opendir(".");
    if (!listing)
        return 0;
    const std::string foundry = dirName[0] == '.' ? "ttf" : dirName;
    int count = 0;
    while (const dirent* entry = readdir(listing)) {
        if (!isFontFileName(entry->d_name))
            continue;
        TrueTypeFont font(entry->d_name, true);
        if (font.isBad())
            continue;
        FontInfo info;
        font.getFontInfo(info);
        std::string_view name(info.fullName, info.nameLen);
        std::string path = std::string(dirName) + "/" + entry->d_name;
        std::string stem = makeXlfdName(font, foundry);
        // A path or stem too long for its length byte leaves the font out.
        if (!writer.addFont(name, path, stem, info.panose))
            continue;
        if (gslist)
            std::printf("(%.*s)\t(%s/%s)\t;\n", static_cast<int>(name.size()), name.data(),
                        settings.fontDirectory, path.c_str());
        count++;
    }
    closedir(listing);
    return count;
}

}  // namespace

int syncDatabase(bool gslist)
{
    if (enterFontDirectory() != 0) {
        logError("directory \"%s\" does not exist!", settings.fontDirectory);
        return -1;
    }
    std::string infoPath = cachePath(INFO_FILE_NAME);
    if (infoPath.empty())
        return -1;
    std::string namePath = cachePath(NAME_FILE_NAME);
    if (namePath.empty())
        return -1;

    DatabaseWriter writer;
    if (!writer.create(infoPath, namePath)) {
        logError("cannot write to font database!");
        return -1;
    }

    int count = syncDirectory(writer, ".", gslist);

    // The way back into the font directory after each subdirectory is kept
    // as a descriptor, which also holds when the font directory was given
    // as a relative path.
    int fontDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fontDirectory >= 0 ? opendir(".") : nullptr;
    bool listed = listing != nullptr;
    if (listing) {
        while (const dirent* entry = readdir(listing)) {
            if (fchdir(fontDirectory) != 0)
                break;
            if (entry->d_name[0] == '.' || chdir(entry->d_name) != 0)
                continue;
            count += syncDirectory(writer, entry->d_name, gslist);
        }
        closedir(listing);
    }
    // The cache paths were formed in the font directory and may be relative.
    bool returned = fontDirectory >= 0 && fchdir(fontDirectory) == 0;
    if (fontDirectory >= 0)
        close(fontDirectory);
    if (!returned || !writer.commit()) {
        logError("cannot write to font database!");
        return -1;
    }
    if (!listed)
        return 0;

    if (count <= 0) {
        logError("no valid truetype fonts found!");
        logInfo("Please put some *.ttf fonts into \"%s\".", settings.fontDirectory);
    } else if (!gslist) {
        logInfo("Found %d fonts.", count);
    }
    return count;
}

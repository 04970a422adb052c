#pragma once

#include <QString>

// The client's working folders, each ending with "/".
struct TWorkingFolders {
    // The program folder's "images/": cover files. TAVILON_IMAGES_DIR overrides it.
    QString ImagesDir;
    // The setting "CompressedDirectory": downloaded volumes.
    QString CompressedDir;
    // The setting "UncompressedDirectory": extracted and directly playable files.
    QString UncompressedDir;
    // The program folder's "unrar/": the extractor and its progress file.
    QString UnrarDir;

    // The folders of the program in `programDir` (ending with "/") and of the settings.
    static TWorkingFolders FromSettings(const QString& programDir);
    // Creates ImagesDir, CompressedDir and UncompressedDir, in that order (see CreateDirectory).
    void CreateWorkingDirectories() const;
};

// Creates `path` with all missing parents. An empty path raises "Unable to create directory";
// any other failure is left for the code that writes there to meet.
void CreateDirectory(const QString& path);

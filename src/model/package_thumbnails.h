#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "model/package_files.h"
#include "model/project_data.h"

namespace kestio {

// The pictures of a package's "thumbnails" folder, kept in step with its document.
//
// A save names every slot's picture by its content (thumbnailFileName(bank, slot, bytes)) and
// writes only the pictures the folder does not hold yet: under new names, which the document
// still on disk does not refer to. The document written next is what makes them the package's;
// only once it has landed are the pictures it no longer refers to removed. So whenever a save is
// cut short or fails, the package holds the old document with its pictures or the new one with
// its pictures, and what is left over is removed by the next save (an open changes nothing). When
// only pictures cannot be written, the new document is written without them
// (forgetPicturesNotHeld): it refers to none the folder lacks.

// Gives every slot of `project` that holds picture bytes the name of its picture, and writes the
// pictures that `folder` does not hold yet, on the disk before this returns. A slot without bytes
// keeps the name it has. Returns the files written. When a picture cannot be written, removes
// those written and throws std::filesystem::filesystem_error.
std::vector<std::filesystem::path> writeNewThumbnails(ProjectData& project,
                                                      const std::filesystem::path& folder,
                                                      const PackageFiles& files);

// Forgets the picture name of every slot of `project` whose picture `folder` does not hold as
// a regular file (after a save could not write the pictures), so that the document written
// next refers to none that is missing.
void forgetPicturesNotHeld(ProjectData& project, const std::filesystem::path& folder);

// The picture names the slots of `document` refer to.
std::set<std::string> pictureNamesOf(const ProjectData& document);

// Removes from `package`, once `document` has been written there, what saves of ours left that
// it does not need, and nothing else: the pictures of ours named in `previous` (what the
// document this save replaced referred to, as this program last read or wrote it) that
// `document` no longer refers to; pictures a save cut short wrote (named by their own content,
// referred to by no document); and the temporary files of our writes, in the "thumbnails"
// folder and beside the document. Files of other names, and pictures only named like ours,
// stay. A failure to remove is ignored.
void removeSaveLeftovers(const std::filesystem::path& package,
                         const std::set<std::string>& previous, const ProjectData& document,
                         const PackageFiles& files);

}  // namespace kestio

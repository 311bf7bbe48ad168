#pragma once
// Names of part files.
//
// A recorder whose input changes format midway (or whose file grows too
// large) completes the current file and continues the recording in a new
// one. `partFileName(name, extension, n)` names part n of a recording that
// began as `name`, for a format whose files end in `extension` (".avi",
// ".wav", ".y4m"); part 0 is `name` itself. For n ≥ 1, looking only at the
// last path component:
//
//   1. The first `extension` there, and everything after it, become
//      "_part<n>" + extension:  "rec.avi" → "rec_part1.avi", then
//      "rec_part2.avi"; "take.avi.tmp" → "take_part1.avi".
//   2. Else the first `extension` in any letter case, kept as written:
//      "REC.AVI" → "REC_part1.AVI".
//   3. Else "_part<n>" is appended: "clip" → "clip_part1".
//
// The directory is never changed, and the names of parts 0, 1, 2, ... of one
// recording are all different, so a recorder that walks them never reopens
// (and truncates) a file it wrote before.
//
// A pure function, safe on any thread.

#include <string>
#include <string_view>

namespace dravo {

std::string partFileName(std::string const& name, std::string_view extension, int part);

}  // namespace dravo

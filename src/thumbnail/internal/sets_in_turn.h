// Internal to vg::thumbnail: do not include from other modules.
//
// A two-size run whose large set's folder would stand where a picture of the
// small set is written ("Grand" beside "Grand/"): made one set after the
// other, as the window's two-size command makes it, and told as one run.
#ifndef VG_THUMBNAIL_INTERNAL_SETS_IN_TURN_H_
#define VG_THUMBNAIL_INTERNAL_SETS_IN_TURN_H_

#include "thumbnail/engine.h"

namespace vg::thumbnail::thumbnail_internal {

// True when a picture of `job`'s first set would be written where a later
// set's folder goes. Lists the origin (platform::Error 75 when it cannot).
bool AnOutputStandsWhereASetGoes(const Job& job);

// Runs each of `job`'s sets alone, in order, the set's folder made just
// before its turn; the summary and `events` (may be null) tell each picture
// once, with the sets numbered as in `job`.
Summary RunSetsInTurn(const Job& job, Events* events);

}  // namespace vg::thumbnail::thumbnail_internal

#endif  // VG_THUMBNAIL_INTERNAL_SETS_IN_TURN_H_

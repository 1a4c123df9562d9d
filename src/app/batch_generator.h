// File: app/batch_generator.h
//
// The generators over the window's model: the batch ("Générateur") walks the
// origin folder and writes every picture it can load, scaled to the width in
// `Largeur`, as a quality-90 JPEG under a transliterated name; the two-size
// command runs it twice, small set then large set in "Grand/". The window
// and the command line run this same code over a `Form1`.
//
//   BatchOptions options;                 // one picture at a time, yields
//   RunBatch(form, options);              // raises only before its loop
//   RunTwoSizes(form, options);           // never raises
//
// Every step inside the loop resumes after a failure: the step is dropped,
// the next one runs, and a file that ends without a thumbnail is listed in
// the form's failures with its reason.
#ifndef VG_APP_BATCH_GENERATOR_H_
#define VG_APP_BATCH_GENERATOR_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/form1.h"

namespace vg::app {

struct BatchOptions {
  // Pictures made at once. 1 runs every step on the form's own picture boxes
  // and yields between steps; more runs each picture on a worker's own boxes
  // (same steps, same files written) and yields only between pictures.
  int jobs = 1;
  // Told after each picture: pictures finished, pictures listed. Called on
  // the thread that runs the batch.
  std::function<void(int, int)> progress;
  // Two-size command only: each picture is loaded once, for the larger
  // width, and both thumbnails are made from that load (the small one from
  // more pixels than its own load would give, so its pixels differ slightly
  // from a run of the window's). Same files, names and failures; the files
  // are the same for every `jobs`. Runs as two batches when the widths are
  // not whole numbers of pixels or "hauteur" is chosen.
  bool one_load_for_both_sizes = false;
};

// Runs the batch once over `form` (the "Générateur" command's procedure).
// Failures before the first picture (an invalid width, an unreadable origin)
// raise; inside the loop nothing does. Appends to the form's failures.
void RunBatch(Form1& form, const BatchOptions& options);

// Runs the two-size command over `form`: small set into `Text2`, large set
// into `Text2` + "Grand/", then " TERMINE !" on the caption. Never raises.
void RunTwoSizes(Form1& form, const BatchOptions& options);

// The text the caption shows while a batch counts its pictures.
std::u16string CountCaption(int16_t count);

}  // namespace vg::app

#endif  // VG_APP_BATCH_GENERATOR_H_

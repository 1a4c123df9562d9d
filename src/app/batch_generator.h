// File: app/batch_generator.h
//
// The window's generators, over the thumbnail engine's steps
// (thumbnail/make.h): the batch ("Générateur") walks the origin folder and
// writes every picture it can load, scaled to the width in `Largeur`, as a
// quality-90 JPEG under a transliterated name; the two-size command runs it
// twice, small set then large set in "Grand/". Asked the same job, they
// write the same files as the engine's own run (thumbnail/engine.h), which
// the command line uses.
//
//   RunBatch(form);       // raises only before its loop
//   RunTwoSizes(form);    // never raises
//
// What the window shows is theirs: the caption counts the pictures, each one
// is loaded into `Picture2` and its thumbnail shown in `Picture1`, and the
// window yields three times per picture (after the load, after sizing, after
// the write), so that it repaints and takes clicks. `Largeur`, `Text1`,
// `Text2` and the option are read again for every picture. With "hauteur"
// chosen, a picture takes the height of the one before it (0 at first).
// Every step inside the loop resumes after a failure: the step is dropped,
// the next one runs, and a file that ends without a thumbnail is listed in
// the form's failures with its reason.
#ifndef VG_APP_BATCH_GENERATOR_H_
#define VG_APP_BATCH_GENERATOR_H_

#include <cstdint>
#include <string>

#include "app/form1.h"

namespace vg::app {

// Runs the batch once over `form` (the "Générateur" command's procedure).
// Failures before the first picture (an invalid width, an unreadable origin)
// raise; inside the loop nothing does. Appends to the form's failures.
void RunBatch(Form1& form);

// Runs the two-size command over `form`: small set into `Text2`, large set
// into `Text2` + "Grand/", then " TERMINE !" on the caption. Never raises.
void RunTwoSizes(Form1& form);

// The text the caption shows while a batch counts its pictures.
std::u16string CountCaption(int16_t count);

}  // namespace vg::app

#endif  // VG_APP_BATCH_GENERATOR_H_

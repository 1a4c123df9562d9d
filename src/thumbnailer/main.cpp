// The desktop's thumbnailer program (thumbnailer/thumbnailer.h).
#include "thumbnailer/thumbnailer.h"

int main(int argc, char** argv) {
  return vg::thumbnailer::RunThumbnailer(argc, argv);
}

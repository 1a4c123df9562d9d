/* Writes to stdout an ICC profile with sRGB primaries and a linear tone
   curve, through LittleCMS. */
#include <lcms2.h>
#include <stdio.h>
#include <stdlib.h>
int main(void) {
  cmsCIExyY white;
  white.x = 0.3127; white.y = 0.3290; white.Y = 1.0;
  cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(NULL, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsSetProfileVersion(p, 2.1);
  cmsUInt32Number n = 0; cmsSaveProfileToMem(p, NULL, &n);
  void* b = malloc(n); cmsSaveProfileToMem(p, b, &n);
  fwrite(b, 1, n, stdout);
  return 0;
}

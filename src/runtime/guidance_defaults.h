// The parameter record's build-time defaults, shared by the static model
// and every instance.
#ifndef GUIDANCE_DEFAULTS_H
#define GUIDANCE_DEFAULTS_H

#include "GuideW.h"

const GuideWParams& guidance_default_params();

#endif

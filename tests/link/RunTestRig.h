#pragma once
#include "support/RunRig.h"

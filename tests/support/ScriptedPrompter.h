#pragma once
#include "support/TestDoubles.h"

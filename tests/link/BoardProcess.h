#pragma once
#include "support/BoardProcess.h"

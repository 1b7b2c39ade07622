#pragma once
#include "support/TestFiles.h"

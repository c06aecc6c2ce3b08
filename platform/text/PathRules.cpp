#include "PathRules.h"

#include "Cp932.h"

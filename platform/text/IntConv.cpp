#include "IntConv.h"

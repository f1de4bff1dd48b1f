#include "kit/kit.h"

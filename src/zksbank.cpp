#include "zksbank.h"

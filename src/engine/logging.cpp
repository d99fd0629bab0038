#include "logging.h"

Q_LOGGING_CATEGORY(lcZk, "quadrel.zks")

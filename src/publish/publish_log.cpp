#include "publish/publish_log.h"

Q_LOGGING_CATEGORY(korvexPublish, "korvex.publish")

// The product's name, version and build date, as the About box and the log's banner show them.
#pragma once

#define RVD_PRODUCT_NAME "Ravendo"
#define RVD_PRODUCT_VERSION "1.0"
#define RVD_PRODUCT_SITE "https://ravendo.example.org/"
#define RVD_PRODUCT_BUILD_DATE __DATE__

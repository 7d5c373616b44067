#include "VersionInfoStore.h"

VersionInfoStore::VersionInfoStore()
{
    Store(KZB_PRODUCT_VERSION);
}

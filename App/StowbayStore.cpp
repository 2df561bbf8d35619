#include "StowbayStore.h"

StowbayStore::StowbayStore(AppSettings &settings, QObject *parent) : QObject(parent) {
    (void)settings;
}

StowbayStore::~StowbayStore() = default;

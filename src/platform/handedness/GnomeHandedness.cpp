#include "GnomeHandedness.h"

#include "engine/Log.h"

#include <gio/gio.h>

namespace quillmere {

namespace {
constexpr const char* key = "left-handed";

// Whether the schema has the key as a Boolean (reading a key that is not
// there, or as another type, aborts the process).
bool hasBooleanKey(GSettingsSchema* schema) {
    if (!g_settings_schema_has_key(schema, key))
        return false;
    GSettingsSchemaKey* schemaKey = g_settings_schema_get_key(schema, key);
    const bool boolean = g_variant_type_equal(g_settings_schema_key_get_value_type(schemaKey),
                                              G_VARIANT_TYPE_BOOLEAN);
    g_settings_schema_key_unref(schemaKey);
    return boolean;
}
} // namespace

GnomeHandedness::GnomeHandedness(const std::string& schema, std::function<void()> onChange)
    : onChange_(std::move(onChange)) {
    // g_settings_new() aborts on a schema that is not installed: look it up.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* found =
        source ? g_settings_schema_source_lookup(source, schema.c_str(), TRUE) : nullptr;
    if (!found) {
        Log::write("[Quillmere] GNOME's mouse settings (" + schema +
                   ") are not installed: they read as right-handed");
        return;
    }
    if (hasBooleanKey(found))
        settings_ = g_settings_new_full(found, nullptr, nullptr);
    else
        Log::write("[Quillmere] GNOME's mouse settings (" + schema +
                   ") have no Boolean left-handed: they read as right-handed");
    g_settings_schema_unref(found);
    if (!settings_)
        return;
    // GSettings signals a change only of a key read after connecting.
    handler_ = g_signal_connect(settings_, "changed::left-handed",
                                G_CALLBACK(&GnomeHandedness::changed), this);
    leftHanded_ = g_settings_get_boolean(settings_, key);
}

GnomeHandedness::~GnomeHandedness() {
    if (!settings_)
        return;
    g_signal_handler_disconnect(settings_, handler_);
    g_object_unref(settings_);
}

void GnomeHandedness::changed(GSettings* settings, char*, void* self) {
    auto* watcher = static_cast<GnomeHandedness*>(self);
    const bool left = g_settings_get_boolean(settings, key);
    if (left == watcher->leftHanded_)
        return;
    watcher->leftHanded_ = left;
    if (watcher->onChange_)
        watcher->onChange_();
}

} // namespace quillmere

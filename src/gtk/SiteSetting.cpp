#include "gtk/SiteSetting.h"

#include <cstdio>

#include "net/Site.h"

namespace quillmere::gtk {

GRefPtr<GSettings> OpenSettings(const std::string& programFolder) {
  GSettingsSchemaSource* system = g_settings_schema_source_get_default();
  const std::string beside = programFolder + "/schemas";
  GSettingsSchemaSource* source = nullptr;
  if (g_file_test((beside + "/gschemas.compiled").c_str(), G_FILE_TEST_EXISTS))
    source = g_settings_schema_source_new_from_directory(beside.c_str(), system, FALSE, nullptr);
  GSettingsSchema* schema = nullptr;
  if (source) {
    schema = g_settings_schema_source_lookup(source, kSettingsSchema, TRUE);
    g_settings_schema_source_unref(source);
  } else if (system) {
    schema = g_settings_schema_source_lookup(system, kSettingsSchema, TRUE);
  }
  if (!schema) return {};
  auto settings = GRefPtr<GSettings>::Adopt(g_settings_new_full(schema, nullptr, nullptr));
  g_settings_schema_unref(schema);
  return settings;
}

SiteSetting::SiteSetting(const std::string& programFolder, std::optional<site::SiteAddress> forThisRun) {
  settings_ = OpenSettings(programFolder);
  if (settings_) {
    changedId_ = g_signal_connect(settings_.get(), "changed::site", G_CALLBACK(OnChanged), this);
    GCharPtr value(g_settings_get_string(settings_.get(), "site"));
    stored_ = value.get();
  } else {
    std::fprintf(stderr, "quillmere: the settings schema %s is not installed; the site's address is not kept\n",
                 kSettingsSchema);
    stored_ = std::string(site::kDefaultAddress);
  }
  if (forThisRun) {
    site::UseSite(*forThisRun);
    return;
  }
  site::ParsedSiteAddress parsed = site::ParseSiteAddress(stored_);
  if (parsed.address) {
    site::UseSite(*parsed.address);
  } else {
    std::fprintf(stderr, "quillmere: the stored site \"%s\" is refused, so %s is used: %s\n", stored_.c_str(),
                 std::string(site::kDefaultAddress).c_str(), parsed.refusal.c_str());
    site::UseSite(site::DefaultSite());
  }
}

SiteSetting::~SiteSetting() {
  if (changedId_) g_signal_handler_disconnect(settings_.get(), changedId_);
}

std::string SiteSetting::Store(const std::string& address) {
  site::ParsedSiteAddress parsed = site::ParseSiteAddress(address);
  if (!parsed.address) return parsed.refusal;
  if (settings_) {
    // The change comes back through OnChanged, as one made elsewhere does.
    g_settings_set_string(settings_.get(), "site", address.c_str());
  } else {
    stored_ = address;
    Use(*parsed.address);
  }
  return {};
}

void SiteSetting::Restore() {
  if (settings_) {
    g_settings_reset(settings_.get(), "site");
  } else {
    stored_ = std::string(site::kDefaultAddress);
    Use(site::DefaultSite());
  }
}

std::string SiteSetting::Stored() const { return stored_; }

void SiteSetting::AddUseSiteAction(GActionMap* actions) {
  auto action = GRefPtr<GSimpleAction>::Adopt(g_simple_action_new("use-site", G_VARIANT_TYPE_STRING));
  g_signal_connect(action.get(), "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* address, gpointer self) {
    const std::string refusal = static_cast<SiteSetting*>(self)->Store(g_variant_get_string(address, nullptr));
    if (!refusal.empty()) std::fprintf(stderr, "quillmere: the site was not changed: %s\n", refusal.c_str());
  }), this);
  g_action_map_add_action(actions, G_ACTION(action.get()));
}

void SiteSetting::OnChanged(GSettings* settings, const char*, gpointer data) {
  auto* self = static_cast<SiteSetting*>(data);
  GCharPtr value(g_settings_get_string(settings, "site"));
  self->stored_ = value.get();
  site::ParsedSiteAddress parsed = site::ParseSiteAddress(self->stored_);
  if (!parsed.address) {
    // Another program stored it; the site in use stays.
    std::fprintf(stderr, "quillmere: the stored site \"%s\" is refused: %s\n", self->stored_.c_str(),
                 parsed.refusal.c_str());
    return;
  }
  self->Use(*parsed.address);
}

void SiteSetting::Use(const site::SiteAddress& address) {
  // A key file is reported changed for every write to it, whatever it holds.
  if (address.baseUrl == site::SiteBaseUrl()) return;
  site::UseSite(address);
  if (onChanged_) onChanged_();
}

}  // namespace quillmere::gtk

// The default nonvolatile tree: the settings a new instrument starts from, under the
// nonvolatile root ("/mnt/nonv" on the board). Building it is a factory step: the
// controller's start-up never calls it, and each feature makes its own folders and
// files when it first needs them.
#pragma once

#include <string>

inline constexpr const char* kNonvolRoot = "/mnt/nonv";
inline constexpr const char* kFactoryUsersFile = "/etc/appweb/factory_default_users.db";

// Builds the default tree under `root` (a path as this process opens it, already
// resolved). Every step runs whatever the others did; each failure prints its line.
// Folders that exist count as failures; files are replaced with their defaults.
// Always 0.
int create_default_nonvol_file_system(const std::string& root);

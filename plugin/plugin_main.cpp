// The module's object file: REALPluginMain itself lives in host/entry.cpp and is the only symbol
// the version script exports.

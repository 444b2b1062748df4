#pragma once

#include <functional>
#include <string>

/** Runs fn in a forked child and returns what it reports: empty for success,
    "skip: ..." when the child cannot set up what it needs, else a failure. A
    child still running after timeoutSeconds is killed and reported as such. */
std::string inChild (const std::function<std::string()>& fn, unsigned timeoutSeconds = 120);

/** In the child: a mount namespace of its own, invisible to the machine. */
std::string enterPrivateMounts();

/** In the child: enterPrivateMounts(), then a tmpfs of this size ("64m") over
    the folder at path. Empty, or "skip: ..." when either cannot be done. */
std::string enterPrivateTmpfs (const char* path, const char* size);

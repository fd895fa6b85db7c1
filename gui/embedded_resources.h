#pragma once

#include <cstddef>
#include <string_view>

/// A file built into the program (cmake/EmbedResources.cmake): its name
/// without folder and extension, and its bytes as they stand in the file.
struct EmbeddedResource {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

/// Every built-in file, in the order of their names, ended by a row whose
/// name is null. Written by the build (resources/icons/*.svg); never changed,
/// so any thread reads it.
extern const EmbeddedResource embeddedResources[];

/// The built-in file of exactly that name, or null when there is none.
const EmbeddedResource* findEmbeddedResource(std::string_view name);

#include "gui/embedded_resources.h"

const EmbeddedResource* findEmbeddedResource(std::string_view name) {
    for (const EmbeddedResource* row = embeddedResources; row->name != nullptr; ++row) {
        if (name == row->name) return row;
    }
    return nullptr;
}

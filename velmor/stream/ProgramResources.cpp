#include "ProgramResources.h"

extern const ProgramResource kBitmapResource146;

const ProgramResource *FindBitmapResource(int id)
{
    if (id == kBitmapResource146.id)
        return &kBitmapResource146;
    return nullptr;
}

// A list of scratches that survives between frames in an effect instance. The scratch
// stages fill it; the instance data owns it and destroys what it still holds.
#pragma once

#include <cstdint>

class ScratchObject {
public:
    virtual ~ScratchObject() = default;
    ScratchObject* next = nullptr;
};

struct ScratchList {
    ScratchObject* head = nullptr;
    int32_t count = 0;

    void destroyAll() {
        while (head) {
            ScratchObject* dead = head;
            head = head->next;
            delete dead;
        }
        count = 0;
    }
};

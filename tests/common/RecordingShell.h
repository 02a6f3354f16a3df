#pragma once

#include "swing/AppShell.h"

#include <string>
#include <utility>
#include <vector>

// An application that only writes down what its windows asked of it.
struct RecordingShell : AppShell {
    int panelShown = 0;
    std::vector<std::string> sounds;
    std::vector<std::pair<DropAction, std::string>> drops;

    void showPanel() override { ++panelShown; }
    void playSound(const std::string& wav) override { sounds.push_back(wav); }
    void fileDropped(DropAction action, const std::string& name) override { drops.emplace_back(action, name); }

    // The files dropped with this action, in order.
    std::vector<std::string> dropped(DropAction action) const
    {
        std::vector<std::string> names;
        for (const auto& [a, name] : drops)
            if (a == action)
                names.push_back(name);
        return names;
    }
};

#pragma once

#include "settings/AppShell.h"

#include <string>
#include <utility>
#include <vector>

// An application that only writes down what its windows asked of it.
struct RecordingShell : AppShell {
    int panelShown = 0;
    std::vector<std::string> figures;
    std::vector<std::string> pictures;
    std::vector<std::string> texts;
    std::vector<std::string> sounds;
    std::vector<std::pair<std::string, std::string>> programs;

    void showPanel() override { ++panelShown; }
    void figureAdded(const std::string& name) override { figures.push_back(name); }
    void openPictureViewer(const std::string& path) override { pictures.push_back(path); }
    void openTextViewer(const std::string& path) override { texts.push_back(path); }
    void playSound(const std::string& wav) override { sounds.push_back(wav); }
    void openDocument(const std::string& program, const std::string& document) override
    {
        programs.emplace_back(program, document);
    }
};

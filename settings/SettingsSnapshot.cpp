#include "settings/SettingsSnapshot.h"

#include "files/ReplaceFile.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

void SettingsSnapshot::publish(const AppSettings& settings)
{
    std::string header = settingsHeaderText(settings);
    const bool listChanged = !published_ || settings.pictures.revision() != picturesRevision_;
    if (published_ && !listChanged && header == lastHeader_)
        return;
    std::shared_ptr<const std::string> pictures;
    if (listChanged)
        pictures = std::make_shared<const std::string>(settingsPicturesText(settings.pictures));
    lastHeader_ = header;
    picturesRevision_ = settings.pictures.revision();
    published_ = true;

    std::shared_ptr<const std::string> replaced;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasText_ = true;
        header_.swap(header);
        if (pictures) {
            replaced = std::move(pictures_);
            pictures_ = std::move(pictures);
        }
    }
    // The old list's text (if this was its last holder) is freed here, outside the lock.
}

std::string SettingsSnapshot::text() const
{
    std::shared_ptr<const std::string> pictures;
    std::string text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text = header_;
        pictures = pictures_;
    }
    if (pictures)
        text += *pictures;
    return text;
}

bool SettingsSnapshot::saveOnce(const std::string& path, const std::function<void()>& onFailure)
{
    std::lock_guard<std::mutex> lock(saveMutex_);
    if (saveResult_)
        return *saveResult_;
    bool published = false;
    {
        std::lock_guard<std::mutex> textLock(mutex_);
        published = hasText_;
    }
    // Nothing published, nothing known to save: the file is left as it is.
    const bool ok = published && ensureParentFolder(path) && replaceFile(path, text());
    saveResult_ = ok;
    if (!ok && onFailure)
        onFailure();
    return ok;
}

bool SettingsSnapshot::saved() const
{
    std::lock_guard<std::mutex> lock(saveMutex_);
    return saveResult_.has_value();
}

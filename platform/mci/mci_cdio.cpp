// The system's CD drive through libcdio. The only file that includes it.
#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/memory.h>

#include <cstdio>
#include <mutex>
#include <new>

#include "platform/mci/mci.h"

namespace platform {

namespace {

// libcdio reports a missing drive on stderr at warning level; a machine
// without one is normal here, so only its errors are passed on.
void LogFromCdio(cdio_log_level_t level, const char* message)
{
    if (level >= CDIO_LOG_ERROR) {
        std::fprintf(stderr, "mci: %s\n", message);
    }
}

class CdioDrive : public CdDrive {
public:
    CdioDrive(CdIo_t* cdio, char* deviceName) : cdio(cdio), deviceName(deviceName) {}
    ~CdioDrive() override
    {
        if (cdio != nullptr) {
            cdio_destroy(cdio);
        }
        cdio_free(deviceName);
    }

    bool ReadToc(CdToc* out) override
    {
        if (cdio == nullptr && !Reopen()) {
            return false;
        }
        const track_t firstTrack = cdio_get_first_track_num(cdio);
        const track_t tracks = cdio_get_num_tracks(cdio);
        if (firstTrack == CDIO_INVALID_TRACK || tracks == CDIO_INVALID_TRACK || tracks == 0 || tracks > 99) {
            return false;
        }
        out->trackStarts.clear();
        for (track_t k = 0; k < tracks; ++k) {
            const lsn_t start = cdio_get_track_lsn(cdio, static_cast<track_t>(firstTrack + k));
            if (start == CDIO_INVALID_LSN) {
                return false;
            }
            out->trackStarts.push_back(start);
        }
        const lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
        if (leadOut == CDIO_INVALID_LSN) {
            return false;
        }
        out->leadOut = leadOut;
        return true;
    }

    bool ReadAudio(int32_t sector, int32_t count, uint8_t* out) override
    {
        if (cdio == nullptr || count <= 0) {
            return false;
        }
        return cdio_read_audio_sectors(cdio, out, sector, static_cast<uint32_t>(count)) == DRIVER_OP_SUCCESS;
    }

    bool OpenDoor() override
    {
        // Ejecting hands the drive back to the system; libcdio closes our
        // handle with it, and the next look at the disc opens it again.
        if (cdio == nullptr && !Reopen()) {
            return false;
        }
        return cdio_eject_media(&cdio) == DRIVER_OP_SUCCESS;
    }

    bool CloseDoor() override
    {
        if (cdio != nullptr) {
            cdio_destroy(cdio);
            cdio = nullptr;
        }
        return cdio_close_tray(deviceName, nullptr) == DRIVER_OP_SUCCESS && Reopen();
    }

private:
    bool Reopen()
    {
        cdio = cdio_open(deviceName, DRIVER_DEVICE);
        return cdio != nullptr;
    }

    CdIo_t* cdio;
    char* deviceName;  // owned, from libcdio
};

}  // namespace

std::unique_ptr<CdDrive> OpenSystemCdDrive()
{
    static std::once_flag logOnce;
    std::call_once(logOnce, [] { cdio_log_set_handler(&LogFromCdio); });
    char* deviceName = cdio_get_default_device(nullptr);
    if (deviceName == nullptr) {
        return nullptr;
    }
    CdIo_t* cdio = cdio_open(deviceName, DRIVER_DEVICE);
    if (cdio == nullptr) {
        cdio_free(deviceName);
        return nullptr;
    }
    std::unique_ptr<CdDrive> drive(new (std::nothrow) CdioDrive(cdio, deviceName));
    if (drive == nullptr) {
        cdio_destroy(cdio);
        cdio_free(deviceName);
    }
    return drive;
}

}  // namespace platform

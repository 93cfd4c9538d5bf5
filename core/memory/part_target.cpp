#include "core/memory/part_target.h"

#include "core/catalogue/catalogue.h"
#include "core/memory/memory_ops.h"

namespace qmx {

namespace {

PartTarget FromRow(int family, int row) {
  PartTarget t;
  t.family = family;
  t.row = row;
  t.size = PartSize(family, row);
  if (family == kFamilyI2c) t.i2c = &I2cParts()[static_cast<std::size_t>(row)];
  if (family == kFamilySpi) t.spi = &SpiParts()[static_cast<std::size_t>(row)];
  return t;
}

}  // namespace

std::optional<PartTarget> ProgramTarget(const ProgramSettings& settings) {
  const int family = settings.family;
  if (family < kFamilyMicrowire || family > kFamilySpi) return std::nullopt;
  if (settings.row < 0 || settings.row >= RowCount(family)) return std::nullopt;
  PartTarget t = FromRow(family, settings.row);
  if (family == kFamilyMicrowire) {
    // Rows past the Standard ones always speak the Series90 protocol in words.
    t.series90 = MicrowireParts()[static_cast<std::size_t>(settings.row)].variant == kSeries90;
    t.byteOrganisation = !t.series90 && settings.dataMode == 0;
    t.addressBits = MicrowireAddressBits(settings.row, t.byteOrganisation);
  }
  return t;
}

std::optional<PartTarget> LibraryTarget(int family, int deviceNumber) {
  const std::optional<LibraryDevice> device = ResolveDeviceNumber(family, deviceNumber);
  if (!device) return std::nullopt;
  PartTarget t = FromRow(device->family, device->row);
  t.series90 = device->series90Protocol;
  t.byteOrganisation = device->byteOrganisation;
  t.addressBits = device->addressBits;
  return t;
}

}  // namespace qmx

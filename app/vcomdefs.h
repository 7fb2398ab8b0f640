// The names, keys and limits that the window, the dialogs, the engine and the bench share.
#ifndef VCOMDEFS_H
#define VCOMDEFS_H

#include <QString>

namespace Vcom {

// The project's version, as CMake's project() gives it.
constexpr char Version[] = VCOM_VERSION;

// The table has four rows: no more connections are added, loaded or run.
constexpr int MaxConnections = 4;

// The line speeds a connection may be set to.
constexpr int MinBaud = 50;
constexpr int MaxBaud = 4000000;

// The file of the connections, in the folder the program works in.
constexpr char PipesFile[] = "pipes.json";

// The keys of a connection in pipes.json and in the property map the dialog edits.
namespace Key {
constexpr QLatin1String Id("id");
constexpr QLatin1String Name("name");
constexpr QLatin1String Note("note");
constexpr QLatin1String PortWork("port_work");
constexpr QLatin1String PortNull("port_null");
constexpr QLatin1String IpAddr("ipaddr");
constexpr QLatin1String IpPort("ipport");
// Written only when they differ from the defaults, so that a file of plain client connections
// stays as older versions wrote and read it.
constexpr QLatin1String Mode("mode");
constexpr QLatin1String Rfc2217("rfc2217");
constexpr QLatin1String Baud("baud");
constexpr QLatin1String DataBits("databits");
constexpr QLatin1String Parity("parity");
constexpr QLatin1String StopBits("stopbits");
// Server mode: the addresses and networks that may connect; none means any peer.
constexpr QLatin1String Allow("allow");
} // namespace Key

// The values of "mode".
constexpr QLatin1String ClientMode("client");
constexpr QLatin1String ServerMode("server");

// Parity and stop bits, with the names pipes.json gives them, in the order of the enums.
enum class Parity { None, Odd, Even, Mark, Space };
constexpr QLatin1String ParityNames[] = {QLatin1String("none"), QLatin1String("odd"), QLatin1String("even"),
                                        QLatin1String("mark"), QLatin1String("space")};
enum class StopBits { One, OneAndHalf, Two };
constexpr QLatin1String StopBitsNames[] = {QLatin1String("1"), QLatin1String("1.5"), QLatin1String("2")};

} // namespace Vcom

#endif // VCOMDEFS_H

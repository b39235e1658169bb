// The status texts keep the program's historical wording and spelling.
#include "engine/icmp_status.h"

namespace tarvik {

std::string_view IcmpStatusText(std::int32_t code) {
    switch (code) {
        case 0:
            return "Success";
        case 11001:
            return "Buffer too small";
        case 11002:
        case 11003:
        case 11004:
        case 11005:
            return "Dst.unreachable";
        case 11006:
            return "No resources";
        case 11007:
            return "Bad Option";
        case 11008:
            return "Hrdwr.Error";
        case 11009:
            return "Packet too big";
        case 11010:
            return "Timeout";
        case 11011:
            return "Bad rqst";
        case 11012:
            return "Bad route";
        case 11013:
            return "TTL expired in transit";
        case 11014:
            return "TTL expired in reassembly";
        case 11015:
            return "Parameter problem";
        case 11016:
            return "Source quench";
        case 11017:
            return "Option too big";
        case 11018:
            return "Bad destination";
        case 11019:
            return "Address deleted";
        case 11020:
            return "Spec MTU change";
        case 11021:
            return "MTU change";
        case 11022:
            return "Unload";
        case 11050:
            return "General failure";
        default:
            return {};
    }
}

std::string_view SocketErrorText(std::int32_t code) {
    switch (code) {
        case 10004:
            return "Blocking call cancelled";
        case 10022:
            return "App version not supported by DLL";
        case 10024:
            return "No file descriptors available";
        case 10035:
            return "Socket marked as non-blocking and SO_LINGER set not 0";
        case 10036:
            return "Blocking operation in progress";
        case 10038:
            return "Descriptor is not a socket";
        case 10041:
            return "Protocol wrong type for this socket";
        case 10043:
            return "Specified protocol not supported";
        case 10044:
            return "Socket type not supported for address family";
        case 10047:
            return "Address family not supported";
        case 10048:
            return "Address already in use";
        case 10049:
            return "Address not available";
        case 10050:
            return "Network subsystem failed";
        case 10051:
            return "Network unreachable";
        case 10053:
            return "Connection aborted";
        case 10054:
            return "Connection reset";
        case 10055:
            return "No buffer space available";
        case 10057:
            return "Not connected";
        case 10060:
            return "Timeout";
        case 10061:
            return "Connection refused";
        case 10064:
            return "Host down";
        case 10065:
            return "Host unreachable";
        case 10091:
            return "WinSock not present or not responding";
        case 10092:
            return "Version of WinSock not supported";
        case 10093:
            return "WSA Startup not initialized";
        case 11001:
            return "Host not found";
        case 11002:
            return "Host not found or server failure";
        case 11003:
            return "Non-recoverable: refused or not implemented";
        case 11004:
            return "Not found";
        default:
            return {};
    }
}

}  // namespace tarvik

"""Small helpers shared by the request handlers."""
import struct


def request_body(payload):
    """The request after its ALL_HEADERS block (TDS 7.2+)."""
    if len(payload) >= 4:
        total = struct.unpack('<I', payload[:4])[0]
        if 4 <= total <= len(payload):
            return payload[total:]
    return payload

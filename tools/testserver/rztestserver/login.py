"""PRELOGIN and LOGIN7: the handshake before the first request."""
import struct

from .wire import Reader

PL_VERSION = 0
PL_ENCRYPTION = 1
PL_INSTOPT = 2
PL_THREADID = 3
PL_MARS = 4
PL_TERMINATOR = 0xFF

ENCRYPT_OFF = 0x00
ENCRYPT_ON = 0x01
ENCRYPT_NOT_SUP = 0x02
ENCRYPT_REQ = 0x03


def parse_prelogin(payload):
    """Returns {option: bytes} of a PRELOGIN request."""
    options = {}
    pos = 0
    while pos < len(payload) and payload[pos] != PL_TERMINATOR:
        token, offset, length = struct.unpack('>BHH', payload[pos:pos + 5])
        options[token] = payload[offset:offset + length]
        pos += 5
    return options


def prelogin_reply(encryption=ENCRYPT_NOT_SUP, version=(15, 0, 2000)):
    """Our PRELOGIN answer: the encryption agreed on, no MARS."""
    options = [
        (PL_VERSION, bytes([version[0], version[1]]) + struct.pack('>HH', version[2], 0)),
        (PL_ENCRYPTION, bytes([encryption])),
        (PL_INSTOPT, b'\x00'),
        (PL_THREADID, b''),
        (PL_MARS, b'\x00'),
    ]
    offset = len(options) * 5 + 1
    head, body = bytearray(), bytearray()
    for token, data in options:
        head += struct.pack('>BHH', token, offset + len(body), len(data))
        body += data
    return bytes(head) + bytes([PL_TERMINATOR]) + bytes(body)


NO_TLS, LOGIN_ONLY, FULL, REFUSE = 'none', 'login only', 'full', 'refuse'


def negotiate_encryption(options, offered, required):
    """(value for our PRELOGIN answer, what happens next) from the client's
    ENCRYPTION option, as SQL Server decides it: a client that says OFF
    still has its LOGIN7 encrypted when the server can; ON or REQ encrypt
    the whole session; a server that requires encryption refuses a client
    that cannot."""
    value = options.get(PL_ENCRYPTION, b'\x00')
    client = value[0] if value else ENCRYPT_OFF
    wants = client in (ENCRYPT_ON, ENCRYPT_REQ)
    if not offered:
        return ENCRYPT_NOT_SUP, REFUSE if wants else NO_TLS
    if client == ENCRYPT_NOT_SUP:
        return (ENCRYPT_REQ, REFUSE) if required else (ENCRYPT_NOT_SUP, NO_TLS)
    if wants:
        return ENCRYPT_ON, FULL
    return (ENCRYPT_REQ, FULL) if required else (ENCRYPT_OFF, LOGIN_ONLY)


INTEGRATED_SECURITY = 0x80   # OptionFlags2: fIntSecurity


def _decode_password(data):
    return bytes(((b ^ 0xA5) >> 4 | ((b ^ 0xA5) & 0x0F) << 4) & 0xFF for b in data).decode('utf-16-le')


class Login:
    """What a LOGIN7 message asks for."""

    def __init__(self, payload):
        reader = Reader(payload)
        (self.length, self.tds_version, self.packet_size, _prog_version, self.client_pid,
         _connection_id) = struct.unpack('<IIIIII', reader.take(24))
        self.option_flags1, self.option_flags2, self.type_flags, self.option_flags3 = reader.take(4)
        reader.take(8)   # time zone, LCID

        def field(position, password=False):
            offset, count = struct.unpack('<HH', payload[position:position + 4])
            data = payload[offset:offset + count * 2]
            return _decode_password(data) if password else data.decode('utf-16-le', errors='replace')

        self.hostname = field(36)
        self.username = field(40)
        self.password = field(44, password=True)
        self.appname = field(48)
        self.servername = field(52)
        self.library = field(60)
        self.language = field(64)
        self.database = field(68)
        # Integrated security: fIntSecurity, and the client's first SSPI token
        # (cbSSPI 0xFFFF means its length is in cbSSPILong).
        self.integrated = bool(self.option_flags2 & INTEGRATED_SECURITY)
        sspi_offset, sspi_length = struct.unpack('<HH', payload[78:82])
        if sspi_length == 0xFFFF:
            sspi_length, = struct.unpack('<I', payload[90:94])
        self.sspi = bytes(payload[sspi_offset:sspi_offset + sspi_length])

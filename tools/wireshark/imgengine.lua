-- ImgEngine field traces (VEL_TRACE, LINKTYPE_USER0): the 8-byte record header, and
-- for data records the link framing found in that one chunk. A packet may span chunks
-- and a chunk may hold several packets; this dissector decodes the packets that begin
-- and end within the chunk and marks a partial one, and it does not follow the
-- handshake state across records (velcli trace show reassembles each direction and
-- decodes the commands' answers and long responses). It names the command a packet
-- on port 1 begins with.
--   tshark -X lua_script:tools/wireshark/imgengine.lua -r FILE -V
local proto = Proto("imgengine", "ImgEngine trace record")

local kinds = { [1] = "data", [2] = "line event", [3] = "settings", [4] = "open", [5] = "close",
                [6] = "API call", [7] = "notification", [8] = "note" }
local commands = {
  [1] = "GetConfiguration", [2] = "SetTemporaryConfiguration", [3] = "SetPermanentConfiguration",
  [4] = "Capture", [5] = "GetVersions", [6] = "CaptureGrey", [8] = "SetSensorRegister",
  [9] = "GetSensorRegister", [13] = "CheckLink", [16] = "PreviousBinaryImage", [17] = "PreviousGreyImage",
  [18] = "Close", [19] = "CalibrateBlackLevels", [20] = "SetDefaultBlackLevels", [21] = "GetCalibrationStatus",
  [22] = "SetTerminalModeOutput", [23] = "SetIoPinConfiguration", [24] = "GetIoPinValue", [25] = "SetIoPinValue",
  [26] = "GetBlockSize", [27] = "WindowedPreviousGreyImage", [28] = "SetTargetingLeds", [29] = "FirmwareErase",
  [30] = "TriggerStatus", [31] = "Sleep", [32] = "ImageStandardDeviation" }
local lineBits = { "break set", "break cleared", "CTS changed", "DSR changed", "line error", "CTS on", "DSR on" }

-- Wireshark's Lua 5.2 has no bit operators: its bit library.
local band, bor, bxor, lshift, rshift = bit.band, bit.bor, bit.bxor, bit.lshift, bit.rshift

local f = proto.fields
f.magic = ProtoField.uint8("imgengine.magic", "Magic", base.HEX)
f.version = ProtoField.uint8("imgengine.version", "Version")
f.kind = ProtoField.uint8("imgengine.kind", "Kind", base.DEC, kinds)
f.detail = ProtoField.uint32("imgengine.detail", "Detail")
f.text = ProtoField.string("imgengine.text", "Text")
f.port = ProtoField.uint8("imgengine.port", "Port")
f.seq = ProtoField.uint8("imgengine.seq", "Sequence")
f.length = ProtoField.uint16("imgengine.length", "Length")
f.crc = ProtoField.uint16("imgengine.crc", "CRC", base.HEX)
f.command = ProtoField.string("imgengine.command", "Command")

-- CRC-16, polynomial 0x1021, initial 0xFFFF, no final XOR, over header and payload.
local function crc16(tvb, offset, length)
  local crc = 0xFFFF
  for i = offset, offset + length - 1 do
    crc = bxor(crc, lshift(tvb(i, 1):uint(), 8))
    for _ = 1, 8 do
      if band(crc, 0x8000) ~= 0 then crc = band(bxor(lshift(crc, 1), 0x1021), 0xFFFF) else crc = band(lshift(crc, 1), 0xFFFF) end
    end
  end
  return crc
end

-- The enhanced packet's epb_flags: inbound 01, outbound 10 in the low bits.
local packetFlags = Field.new("frame.packet_flags")
local interfaceName = Field.new("frame.interface_name")
local function direction()
  local v = packetFlags()
  return v and v.value or nil
end

local function packets(tvb, tree, usb, inbound)
  local at, n = 0, tvb:len()
  -- The imager's handshake answer: zeros, a mark byte and its token, alone in the chunk.
  local zeros = 0
  while inbound and zeros < n and tvb(zeros, 1):uint() == 0 do zeros = zeros + 1 end
  if inbound and n - zeros == 5 then
    tree:add(tvb(0, n), string.format("Handshake answer: Imager token 0x%08x", tvb(zeros + 1, 4):le_uint()))
    return
  end
  if n == 3 and tvb(0, 1):uint() == 0 and tvb(1, 1):uint() == 0 and tvb(2, 1):uint() == 0xFF then
    tree:add(tvb(0, 3), "Handshake: Host intro (its token follows in the next chunk)")
    return
  end
  while n - at >= 4 do
    if tvb(at, 1):uint() == 0 and tvb(at + 1, 1):uint() == 0 and tvb(at + 2, 1):uint() == 0xFF and n - at >= 7 then
      tree:add(tvb(at, 7), string.format("Handshake: Host token 0x%08x", tvb(at + 3, 4):le_uint()))
      at = at + 7
    elseif usb then
      local h = tvb(at, 4):le_uint()
      local len = rshift(h, 6)
      local t = tree:add(tvb(at, math.min(4 + len, n - at)), string.format("Message port %d seq %d len %d",
                         band(h, 0xF), band(rshift(h, 4), 3), len))
      -- The host writes a command's message whole; the imager's header and payload come apart.
      if band(h, 0xF) == 1 and len > 0 and n - at > 4 then
        local name = commands[tvb(at + 4, 1):uint()]
        if name and len == 1 and tvb(at + 4, 1):uint() <= 1 then name = name .. " or an acknowledgement byte" end
        if name then t:add(f.command, tvb(at + 4, 1), name):set_text("Command: " .. name) end
      end
      at = at + 4 + len
    else
      local head = tvb(at + 2, 2):le_uint()
      local port, seq, len = band(head, 0xF), band(rshift(head, 4), 3), rshift(head, 6)
      if len > 1016 then
        tree:add(tvb(at, n - at), "Not a packet header here (length " .. len .. "): framing lost or a handshake answer")
        return
      end
      if n - at < 4 + len then
        tree:add(tvb(at, n - at), string.format("Packet port %d seq %d len %d continues in the next chunk", port, seq, len))
        return
      end
      local crc = tvb(at, 2):le_uint()
      local good = crc16(tvb, at + 2, 2 + len) == crc
      local label = len == 0 and "Acknowledgement" or "Packet"
      local t = tree:add(tvb(at, 4 + len), string.format("%s port %d seq %d len %d, CRC: %s", label, port, seq, len,
                         good and "good" or "BAD"))
      t:add(f.port, tvb(at + 2, 1), port)
      t:add(f.seq, tvb(at + 2, 1), seq)
      t:add(f.length, tvb(at + 2, 2), len)
      t:add_le(f.crc, tvb(at, 2))
      if good and len > 0 and port == 1 then
        local name = commands[tvb(at + 4, 1):uint()]
        -- A lone 0 or 1 may also be a result's or an image block's acknowledgement byte.
        local code = tvb(at + 4, 1):uint()
        if name and len == 1 and code <= 1 then name = name .. " or an acknowledgement byte" end
        if name then t:add(f.command, tvb(at + 4, 1), name):set_text("Command: " .. name) end
      end
      at = at + 4 + len
    end
  end
  if n > at then tree:add(tvb(at, n - at), "Bytes outside a whole packet") end
end

function proto.dissector(tvb, pinfo, tree)
  if tvb:len() < 8 or tvb(0, 1):uint() ~= 0x56 then return 0 end
  pinfo.cols.protocol = "ImgEngine"
  local kind, detail = tvb(2, 1):uint(), tvb(4, 4):le_uint()
  local t = tree:add(proto, tvb(), "ImgEngine trace record: " .. (kinds[kind] or "unknown"))
  t:add(f.magic, tvb(0, 1))
  t:add(f.version, tvb(1, 1))
  t:add(f.kind, tvb(2, 1))
  t:add_le(f.detail, tvb(4, 4))
  local body = tvb:len() > 8 and tvb(8):tvb() or nil
  if kind == 1 and body then
    local flags = direction()
    local dir = flags and (band(flags, 3) == 1 and "imager to host" or band(flags, 3) == 2 and "host to imager") or "?"
    pinfo.cols.info = string.format("data %s, %d bytes", dir, body:len())
    local usb = false
    local name = interfaceName()
    if name then usb = tostring(name.value):sub(1, 3) == "usb" end
    packets(body, t, usb, flags ~= nil and band(flags, 3) == 1)
  elseif kind == 2 then
    local names = {}
    for i, n in ipairs(lineBits) do if band(detail, lshift(1, i - 1)) ~= 0 then names[#names + 1] = n end end
    pinfo.cols.info = "line: " .. table.concat(names, ", ")
    t:add(tvb(4, 4), "Line: " .. table.concat(names, ", "))
  elseif body then
    pinfo.cols.info = (kinds[kind] or "record") .. ": " .. body:raw()
    t:add(f.text, body(), body:raw())
  else
    pinfo.cols.info = kinds[kind] or "record"
  end
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, proto)

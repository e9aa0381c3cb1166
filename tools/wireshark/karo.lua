-- SPDX-License-Identifier: Apache-2.0
-- Wireshark dissector for the Karo gripper protocol (TCP, UDP).
--
--   tshark -X lua_script:karo.lua -r capture.pcap -Y karo
--
-- TCP port 1000 and UDP ports 1500 (towards the gripper) and 1501 (back) by default; the
-- preferences karo.tcp_port, karo.udp_request_port and karo.udp_reply_port change them, and a
-- heuristic on the preamble finds the protocol on other ports.

local karo = Proto("karo", "Karo gripper protocol")

local bitlib = bit32 or bit
local band, bxor, rshift = bitlib.band, bitlib.bxor, bitlib.rshift

local command_names = {
    [0x20] = "HOMING", [0x21] = "GOTO", [0x22] = "STOP", [0x23] = "FAST_STOP",
    [0x24] = "FAST_STOP_ACK", [0x25] = "GRASP_RAW", [0x26] = "RELEASE_RAW",
    [0x27] = "GRASP_PROFILE", [0x28] = "RELEASE_PROFILE", [0x30] = "SET_ACCELERATION",
    [0x31] = "GET_ACCELERATION", [0x32] = "SET_FORCE_LIMIT", [0x33] = "GET_FORCE_LIMIT",
    [0x34] = "SET_SOFT_LIMITS", [0x35] = "GET_SOFT_LIMITS", [0x36] = "CLEAR_SOFT_LIMITS",
    [0x37] = "OVERDRIVE_MODE", [0x38] = "TARE", [0x40] = "GET_SYSTEM_STATE",
    [0x41] = "GET_GRASPING_STATE", [0x42] = "GET_GRASPING_STATS", [0x43] = "GET_POS",
    [0x44] = "GET_SPEED", [0x45] = "GET_FORCE", [0x50] = "GET_SYSINFO",
    [0x51] = "SET_DEVICE_TAG", [0x52] = "GET_DEVICE_TAG", [0x53] = "GET_SYSTEM_LIMITS",
}

local status_names = {
    [0] = "E_SUCCESS", "E_NOT_AVAILABLE", "E_NO_SENSOR", "E_NOT_INITIALIZED",
    "E_ALREADY_RUNNING", "E_FEATURE_NOT_SUPPORTED", "E_INCONSISTENT_DATA", "E_TIMEOUT",
    "E_READ_ERROR", "E_WRITE_ERROR", "E_INSUFFICIENT_RESOURCES", "E_CHECKSUM_ERROR",
    "E_NO_PARAM_EXPECTED", "E_NOT_ENOUGH_PARAMS", "E_CMD_UNKNOWN", "E_CMD_FORMAT_ERROR",
    "E_ACCESS_DENIED", "E_ALREADY_OPEN", "E_CMD_FAILED", "E_CMD_ABORTED", "E_INVALID_HANDLE",
    "E_NOT_FOUND", "E_NOT_OPENED", "E_IO_ERROR", "E_INVALID_PARAMETER", "E_INDEX_OUT_OF_BOUNDS",
    "E_CMD_PENDING", "E_OVERRUN", "E_RANGE_ERROR", "E_AXIS_BLOCKED", "E_ALREADY_CLOSED",
    "E_FILE_EXISTS",
}

local grasping_names = {
    [0] = "idle", "grasping", "no part", "part lost", "holding", "releasing",
}

local state_flags = {
    {0x1, "referenced", "Referenced"}, {0x2, "moving", "Moving"},
    {0x4, "blocked_minus", "Blocked minus"}, {0x8, "blocked_plus", "Blocked plus"},
    {0x10, "soft_limit_minus", "Soft limit minus"}, {0x20, "soft_limit_plus", "Soft limit plus"},
    {0x40, "axis_stopped", "Axis stopped"}, {0x80, "target_pos_reached", "Target pos reached"},
    {0x100, "overdrive_mode", "Overdrive mode"}, {0x1000, "fast_stop", "Fast stop"},
    {0x2000, "temperature_warning", "Temperature warning"},
    {0x4000, "temperature_fault", "Temperature fault"}, {0x8000, "power_fault", "Power fault"},
    {0x10000, "current_fault", "Current fault"}, {0x20000, "finger_fault", "Finger fault"},
    {0x40000, "command_failure", "Command failure"},
    {0x80000, "script_running", "Script is running"}, {0x100000, "script_failure", "Script failure"},
}

local f = {
    direction = ProtoField.uint8("karo.direction", "Direction", base.DEC,
                                 {[0] = "Request", [1] = "Reply"}),
    id = ProtoField.uint8("karo.id", "Command", base.HEX, command_names),
    length = ProtoField.uint16("karo.length", "Payload length", base.DEC),
    payload = ProtoField.bytes("karo.payload", "Payload"),
    status = ProtoField.uint16("karo.status", "Status", base.DEC, status_names),
    data = ProtoField.bytes("karo.data", "Reply data"),
    checksum = ProtoField.uint16("karo.checksum", "Checksum", base.HEX),
    checksum_status = ProtoField.uint8("karo.checksum.status", "Checksum status", base.DEC,
                                       {[0] = "Bad", [1] = "Good"}),
    junk = ProtoField.bytes("karo.junk", "Bytes outside a frame"),
    position = ProtoField.float("karo.position", "Position (mm)"),
    speed = ProtoField.float("karo.speed", "Speed (mm/s)"),
    width = ProtoField.float("karo.width", "Width (mm)"),
    acceleration = ProtoField.float("karo.acceleration", "Acceleration (mm/s²)"),
    force_limit = ProtoField.float("karo.force_limit", "Force limit (N)"),
    goto_flags = ProtoField.uint8("karo.goto.flags", "Flags", base.HEX),
    homing_param = ProtoField.uint8("karo.homing.param", "Homing parameter", base.DEC),
    ack = ProtoField.string("karo.ack", "Acknowledge text"),
    update_options = ProtoField.uint8("karo.update.options", "Update options", base.HEX),
    update_enabled = ProtoField.bool("karo.update.enabled", "Automatic update", 8, nil, 0x01),
    update_option = ProtoField.bool("karo.update.option", "Second option", 8, nil, 0x02),
    update_period = ProtoField.uint16("karo.update.period", "Update period (ms)", base.DEC),
    system_state = ProtoField.uint32("karo.system_state", "System state", base.HEX),
    grasping_state = ProtoField.uint8("karo.grasping_state", "Grasping state", base.DEC,
                                      grasping_names),
    stats_reset = ProtoField.uint8("karo.stats.reset", "Reset statistics", base.DEC),
    stats_grasps = ProtoField.uint32("karo.stats.grasps", "Number of grasps", base.DEC),
    stats_not_found = ProtoField.uint16("karo.stats.not_found", "Parts not found", base.DEC),
    stats_lost = ProtoField.uint16("karo.stats.lost", "Parts lost", base.DEC),
    info_type = ProtoField.uint8("karo.info.type", "Gripper type", base.DEC),
    info_hw = ProtoField.uint8("karo.info.hardware_revision", "Hardware revision", base.DEC),
    info_fw = ProtoField.uint16("karo.info.firmware_revision", "Firmware revision", base.DEC),
    info_serial = ProtoField.uint32("karo.info.serial_number", "Serial number", base.DEC),
}
local limit_fields = {
    {"stroke", "Stroke (mm)"}, {"min_speed", "Minimum speed (mm/s)"},
    {"max_speed", "Maximum speed (mm/s)"}, {"min_acceleration", "Minimum acceleration (mm/s²)"},
    {"max_acceleration", "Maximum acceleration (mm/s²)"}, {"min_force", "Minimum force (N)"},
    {"max_force", "Maximum force (N)"}, {"reserved", "Reserved"},
}
for i, l in ipairs(limit_fields) do
    l.field = ProtoField.float("karo.limits." .. l[1], l[2])
    f["limit" .. i] = l.field
end
for i, s in ipairs(state_flags) do
    s.field = ProtoField.bool("karo.system_state." .. s[2], s[3], 32, nil, s[1])
    f["flag" .. i] = s.field
end

local fields = {}
for _, v in pairs(f) do fields[#fields + 1] = v end
karo.fields = fields

local e = {
    bad_checksum = ProtoExpert.new("karo.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
                                   expert.severity.ERROR),
    junk = ProtoExpert.new("karo.junk.expert", "Bytes outside a frame",
                           expert.group.MALFORMED, expert.severity.WARN),
    truncated = ProtoExpert.new("karo.truncated", "Frame cut short", expert.group.MALFORMED,
                                expert.severity.ERROR),
    data_length = ProtoExpert.new("karo.data.unexpected", "Unexpected data length",
                                  expert.group.PROTOCOL, expert.severity.WARN),
}
karo.experts = {e.bad_checksum, e.junk, e.truncated, e.data_length}

karo.prefs.tcp_port = Pref.uint("TCP port", 1000, "The gripper's TCP port")
karo.prefs.udp_request_port = Pref.uint("UDP request port", 1500,
                                        "The UDP port the gripper receives requests on")
karo.prefs.udp_reply_port = Pref.uint("UDP reply port", 1501,
                                      "The UDP port the gripper's replies are sent to")

-- The table of polynomial 0x1021 shifted to the left, applied with the right-shifting step.
local crc_table = {}
for i = 0, 255 do
    local v = i * 256
    for _ = 1, 8 do
        if band(v, 0x8000) ~= 0 then
            v = bxor(band(v * 2, 0xFFFF), 0x1021)
        else
            v = band(v * 2, 0xFFFF)
        end
    end
    crc_table[i] = v
end

local function crc16(tvb, offset, count)
    local crc = 0xFFFF
    local bytes = tvb:bytes(offset, count)
    for i = 0, count - 1 do
        crc = bxor(crc_table[band(bxor(crc, bytes:get_index(i)), 0xFF)], rshift(crc, 8))
    end
    return crc
end

-- The query replies and updates: data length and how to show it.
local reply_decoders = {
    [0x31] = {4, function(t, r) t:add_le(f.acceleration, r) end},
    [0x33] = {4, function(t, r) t:add_le(f.force_limit, r) end},
    [0x40] = {4, function(t, r)
        local item = t:add_le(f.system_state, r)
        for _, s in ipairs(state_flags) do item:add_le(s.field, r) end
    end},
    [0x41] = {1, function(t, r) t:add(f.grasping_state, r) end},
    [0x42] = {8, function(t, r)
        t:add_le(f.stats_grasps, r(0, 4))
        t:add_le(f.stats_not_found, r(4, 2))
        t:add_le(f.stats_lost, r(6, 2))
    end},
    [0x43] = {4, function(t, r) t:add_le(f.position, r) end},
    [0x50] = {8, function(t, r)
        t:add(f.info_type, r(0, 1))
        t:add(f.info_hw, r(1, 1))
        t:add_le(f.info_fw, r(2, 2))
        t:add_le(f.info_serial, r(4, 4))
    end},
    [0x53] = {32, function(t, r)
        for i, l in ipairs(limit_fields) do t:add_le(l.field, r((i - 1) * 4, 4)) end
    end},
}

local function update_request(t, r)
    local item = t:add(f.update_options, r(0, 1))
    item:add(f.update_enabled, r(0, 1))
    item:add(f.update_option, r(0, 1))
    t:add_le(f.update_period, r(1, 2))
end
local function motion_request(t, r)
    t:add_le(f.width, r(0, 4))
    t:add_le(f.speed, r(4, 4))
end

local request_decoders = {
    [0x20] = {1, function(t, r) t:add(f.homing_param, r) end},
    [0x21] = {9, function(t, r)
        t:add(f.goto_flags, r(0, 1))
        t:add_le(f.position, r(1, 4))
        t:add_le(f.speed, r(5, 4))
    end},
    [0x22] = {0}, [0x23] = {0},
    [0x24] = {3, function(t, r) t:add(f.ack, r) end},
    [0x25] = {8, motion_request}, [0x26] = {8, motion_request},
    [0x30] = {4, function(t, r) t:add_le(f.acceleration, r) end},
    [0x31] = {0},
    [0x32] = {4, function(t, r) t:add_le(f.force_limit, r) end},
    [0x33] = {0},
    [0x40] = {3, update_request}, [0x41] = {3, update_request},
    [0x42] = {1, function(t, r) t:add(f.stats_reset, r) end},
    [0x43] = {3, update_request},
    [0x50] = {0}, [0x53] = {0},
}

-- Shows `decoder` over `range` when the length fits, else says so.
local function decode_values(tree, decoder, range, count)
    if not decoder then return end
    if count ~= decoder[1] then
        tree:add_proto_expert_info(e.data_length,
            string.format("Expected %d bytes, got %d", decoder[1], count))
        return
    end
    if decoder[2] and count > 0 then decoder[2](tree, range) end
end

local function command_name(id)
    return command_names[id] or string.format("unknown ID(%d)", id)
end

-- One whole frame at `offset`, `total` bytes long; returns the text for the info column.
local function dissect_frame(tvb, pinfo, tree, offset, total, reply)
    local range = tvb(offset, total)
    local id = tvb(offset + 3, 1):uint()
    local n = total - 8
    local sub = tree:add(karo, range)
    sub:add(f.direction, range(0, 0), reply and 1 or 0):set_generated()
    sub:add(f.id, tvb(offset + 3, 1))
    sub:add_le(f.length, tvb(offset + 4, 2))
    local text = (reply and "Reply " or "Request ") .. command_name(id)
    if n > 0 then
        local payload = tvb(offset + 6, n)
        local ptree = sub:add(f.payload, payload)
        if reply and n >= 2 then
            local status = payload(0, 2):le_uint()
            ptree:add_le(f.status, payload(0, 2))
            text = text .. " " .. (status_names[status] or tostring(status))
            if n > 2 then
                ptree:add(f.data, payload(2, n - 2))
                decode_values(ptree, reply_decoders[id], payload(2, n - 2), n - 2)
            elseif reply_decoders[id] and status == 0 then
                decode_values(ptree, reply_decoders[id], nil, 0)
            end
        elseif not reply then
            decode_values(ptree, request_decoders[id], payload, n)
        end
    elseif not reply then
        decode_values(sub, request_decoders[id], nil, 0)
    end
    local wire = tvb(offset + 6 + n, 2):le_uint()
    local crc_item = sub:add_le(f.checksum, tvb(offset + 6 + n, 2))
    local good = crc16(tvb, offset, 6 + n) == wire
    local status_item = sub:add(f.checksum_status, tvb(offset + 6 + n, 2), good and 1 or 0)
    status_item:set_generated()
    if not good then
        crc_item:add_proto_expert_info(e.bad_checksum,
            string.format("Bad checksum: 0x%04x, computed 0x%04x", wire, crc16(tvb, offset, 6 + n)))
        text = text .. " [bad checksum]"
    end
    sub:append_text(", " .. text)
    return text
end

-- Offset of the first AA AA AA at or after `offset`, or nil.
local function find_preamble(tvb, offset)
    local len = tvb:len()
    local run = 0
    for i = offset, len - 1 do
        if tvb(i, 1):uint() == 0xAA then
            run = run + 1
            if run == 3 then return i - 2 end
        else
            run = 0
        end
    end
    return nil
end

local f_tcp_srcport = Field.new("tcp.srcport")

-- Requests go towards the gripper's ports; on other ports the gripper is the lower port.
local function is_reply(pinfo)
    local src, dst = pinfo.src_port, pinfo.dst_port
    if f_tcp_srcport() then
        if src == karo.prefs.tcp_port then return true end
        if dst == karo.prefs.tcp_port then return false end
    else
        if dst == karo.prefs.udp_reply_port then return true end
        if dst == karo.prefs.udp_request_port then return false end
    end
    return src < dst
end

local function dissect(tvb, pinfo, tree)
    local len = tvb:len()
    local reply = is_reply(pinfo)
    local stream = pinfo.can_desegment > 0
    local offset = 0
    local texts = {}
    while offset < len do
        local start = find_preamble(tvb, offset)
        local junk_end = start or len
        -- One or two AA at the very end may be the start of the next frame's preamble.
        if not start and stream then
            while junk_end > offset and tvb(junk_end - 1, 1):uint() == 0xAA and len - junk_end < 2 do
                junk_end = junk_end - 1
            end
        end
        if junk_end > offset then
            local item = tree:add(f.junk, tvb(offset, junk_end - offset))
            item:add_proto_expert_info(e.junk)
            offset = junk_end
        end
        if offset >= len then break end
        local have = len - offset
        local total = have >= 6 and tvb(offset + 4, 2):le_uint() + 8 or nil
        if not total or have < total then
            if stream then
                pinfo.desegment_offset = offset
                pinfo.desegment_len = total and (total - have) or DESEGMENT_ONE_MORE_SEGMENT
                break
            end
            local item = tree:add(karo, tvb(offset, have))
            item:append_text(", frame cut short")
            item:add_proto_expert_info(e.truncated)
            texts[#texts + 1] = "cut short"
            break
        end
        texts[#texts + 1] = dissect_frame(tvb, pinfo, tree, offset, total, reply)
        offset = offset + total
    end
    if #texts > 0 then
        pinfo.cols.protocol = "KARO"
        pinfo.cols.info = table.concat(texts, ", ")
    end
    return len
end

function karo.dissector(tvb, pinfo, tree)
    return dissect(tvb, pinfo, tree)
end

local function heuristic(tvb, pinfo, tree)
    if tvb:len() < 3 or tvb(0, 3):uint() ~= 0xAAAAAA then return false end
    dissect(tvb, pinfo, tree)
    return true
end
karo:register_heuristic("tcp", heuristic)
karo:register_heuristic("udp", heuristic)

local registered = {}
local function register_ports()
    local tcp, udp = DissectorTable.get("tcp.port"), DissectorTable.get("udp.port")
    if registered.tcp then tcp:remove(registered.tcp, karo) end
    if registered.request then udp:remove(registered.request, karo) end
    if registered.reply then udp:remove(registered.reply, karo) end
    registered = {tcp = karo.prefs.tcp_port, request = karo.prefs.udp_request_port,
                  reply = karo.prefs.udp_reply_port}
    tcp:add(registered.tcp, karo)
    udp:add(registered.request, karo)
    udp:add(registered.reply, karo)
end
karo.prefs_changed = register_ports
register_ports()

/*
 * vxsdm_inventory: lists the adapter ports of this host.
 *
 * Prints the library's version, then for each port the properties of its
 * adapter (node) and of the port itself and the regions of its option ROM
 * (flash), and closes it again. Reaching the adapters needs root and the
 * adapter's driver; on a host without adapters it says so and exits 0.
 *
 * Build against an installed library:
 *   cc -std=c99 vxsdm_inventory.c $(pkg-config --cflags --libs vxsdm)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vxsdm.h>

/* Reports a call that failed, with the library's text for its status. */
static int failed(const char* what, SD_UINT32 status) {
    fprintf(stderr, "  %s failed: %s (0x%08lx)\n", what, SDGetErrorString(status), (unsigned long)status);
    return 1;
}

static void print_wwn(const char* label, const SD_UINT8 wwn[8]) {
    printf("  %-16s %02x:%02x:%02x:%02x:%02x:%02x:%02x:%02x\n", label, wwn[0], wwn[1], wwn[2], wwn[3], wwn[4],
           wwn[5], wwn[6], wwn[7]);
}

static int print_node(int device) {
    DEVICENODEPROPERTY node;
    SD_UINT32 status;

    memset(&node, 0, sizeof node);
    status = SDGetHbaDeviceNodeProperty(device, &node);
    if (status != SDERR_NO_ERROR) return failed("SDGetHbaDeviceNodeProperty", status);
    printf("  %-16s %s (%s)\n", "model", node.Model, node.Manufacturer);
    printf("  %-16s %s\n", "serial number", (const char*)node.SerialNumber);
    print_wwn("node WWN", node.WWN);
    printf("  %-16s %u\n", "ports", (unsigned)node.NumberOfPorts);
    printf("  %-16s %s\n", "driver", node.DriverVersion);
    printf("  %-16s %s\n", "firmware", node.FirmwareVersion);
    printf("  %-16s %s\n", "option ROM", node.OptionRomVersion);
    return 0;
}

static int print_port(int device) {
    DEVICEPORTPROPERTY port;
    SD_UINT32 status;

    memset(&port, 0, sizeof port);
    status = SDGetHbaDevicePortProperty(device, 0, &port);
    if (status != SDERR_NO_ERROR) return failed("SDGetHbaDevicePortProperty", status);
    print_wwn("port WWN", port.WWN);
    printf("  %-16s %02x%02x%02x\n", "port ID", port.PortID[0], port.PortID[1], port.PortID[2]);
    printf("  %-16s %u\n", "state", (unsigned)port.PortState);
    printf("  %-16s %lu\n", "speed code", (unsigned long)port.PortSpeed);
    printf("  %-16s %u\n", "targets", (unsigned)port.DiscTargetCount);
    return 0;
}

/* Asks for the number of regions first, then reads the whole layout. */
static int print_layout(int device) {
    SDM_OPT_ROM_LAYOUT probe;
    PSDM_OPT_ROM_LAYOUT layout;
    SD_UINT32 status, count, i;

    memset(&probe, 0, sizeof probe);
    probe.NoOfRegions = 1;
    status = SDGetOptionRomLayout(device, 0, &probe);
    if (status != SDERR_NO_ERROR && status != SDERR_BUFFER_TOO_SMALL) {
        return failed("SDGetOptionRomLayout", status);
    }
    count = probe.NoOfRegions > 0 ? probe.NoOfRegions : 1;
    layout = calloc(1, sizeof *layout + (count - 1) * sizeof layout->Region[0]);
    if (layout == NULL) return failed("SDGetOptionRomLayout", SDERR_OUT_OF_MEMORY);
    layout->NoOfRegions = count;
    status = SDGetOptionRomLayout(device, 0, layout);
    if (status == SDERR_NO_ERROR) {
        const SDM_OPT_ROM_REGION* region = layout->Region; /* NoOfRegions entries */
        printf("  option ROM layout: %lu bytes, %lu regions\n", (unsigned long)layout->Size,
               (unsigned long)layout->NoOfRegions);
        for (i = 0; i < layout->NoOfRegions; ++i) {
            printf("    region 0x%02lx %10lu bytes\n", (unsigned long)region[i].Region,
                   (unsigned long)region[i].Size);
        }
    }
    free(layout);
    return status == SDERR_NO_ERROR ? 0 : failed("SDGetOptionRomLayout", status);
}

int main(void) {
    char version[32];
    SD_UINT32 number, count, i;
    int errors = 0;

    number = SDGetVersion(version, sizeof version);
    printf("libvxsdm %s (0x%08lx)\n", version, (unsigned long)number);

    count = SDGetNumberOfAdapters();
    if (count == 0) {
        printf("No adapter ports found on this host (the library needs root and the adapter's driver).\n");
        return 0;
    }
    printf("%lu adapter port(s)\n", (unsigned long)count);

    for (i = 0; i < count; ++i) {
        int device = 0;
        SD_UINT32 status = SDOpenDevice(i, &device);

        printf("\nport %lu\n", (unsigned long)i);
        if (status != SDERR_NO_ERROR) {
            errors += failed("SDOpenDevice", status);
            continue;
        }
        errors += print_node(device);
        errors += print_port(device);
        errors += print_layout(device);
        status = SDCloseDevice(device);
        if (status != SDERR_NO_ERROR) errors += failed("SDCloseDevice", status);
    }
    return errors == 0 ? 0 : 1;
}

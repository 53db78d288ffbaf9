// The FC transport's bsg records as the library declares them, against Linux's own header where it is installed
// (Debian's linux-libc-dev leaves it out; there the records' static_asserts stand alone).
#include <vector>

#include "test_support.h"
#include "transport/vx_sysfs_bsg.h"

#if __has_include(<scsi/scsi_bsg_fc.h>)
#define VX_HAVE_LINUX_BSG_FC 1
// Linux's records carry the library's names: they live apart. <linux/types.h> is already in (through
// <linux/bsg.h>), so only the header's own declarations land in the namespace.
namespace linux_fc {
#include <scsi/scsi_bsg_fc.h>
}
#endif

namespace {

TEST(BsgRecords, AsLinuxDeclaresThem) {
#ifndef VX_HAVE_LINUX_BSG_FC
    GTEST_SKIP() << "Linux's <scsi/scsi_bsg_fc.h> is not installed: the bsg records are not compared with it, only "
                    "pinned by their static_asserts";
#else
    using Reply = linux_fc::fc_bsg_reply;
    using Request = linux_fc::fc_bsg_request;
    using Offsets = std::vector<size_t>;
    EXPECT_EQ(sizeof(fc_bsg_reply), sizeof(Reply));
    EXPECT_EQ((Offsets{offsetof(fc_bsg_reply, result), offsetof(fc_bsg_reply, reply_payload_rcv_len),
                       offsetof(fc_bsg_reply, vendor_rsp), offsetof(fc_bsg_reply, ctels_reply.status),
                       offsetof(fc_bsg_reply, ctels_reply.rjt_data.action),
                       offsetof(fc_bsg_reply, ctels_reply.rjt_data.reason_code),
                       offsetof(fc_bsg_reply, ctels_reply.rjt_data.reason_explanation),
                       offsetof(fc_bsg_reply, ctels_reply.rjt_data.vendor_unique)}),
              (Offsets{offsetof(Reply, result), offsetof(Reply, reply_payload_rcv_len),
                       offsetof(Reply, reply_data.vendor_reply.vendor_rsp), offsetof(Reply, reply_data.ctels_reply.status),
                       offsetof(Reply, reply_data.ctels_reply.rjt_data.action),
                       offsetof(Reply, reply_data.ctels_reply.rjt_data.reason_code),
                       offsetof(Reply, reply_data.ctels_reply.rjt_data.reason_explanation),
                       offsetof(Reply, reply_data.ctels_reply.rjt_data.vendor_unique)}));
    EXPECT_EQ((std::vector<uint32_t>{VX_CTELS_STATUS_OK, VX_CTELS_STATUS_REJECT, VX_CTELS_STATUS_P_RJT,
                                     VX_CTELS_STATUS_F_RJT, VX_CTELS_STATUS_P_BSY, VX_CTELS_STATUS_F_BSY}),
              (std::vector<uint32_t>{FC_CTELS_STATUS_OK, FC_CTELS_STATUS_REJECT, FC_CTELS_STATUS_P_RJT,
                                     FC_CTELS_STATUS_F_RJT, FC_CTELS_STATUS_P_BSY, FC_CTELS_STATUS_F_BSY}));

    // The request: the message codes and the fields the library fills (its buffers hold the first 20 bytes).
    EXPECT_EQ((std::vector<uint32_t>{VX_BSG_HOST_VENDOR, VX_BSG_HOST_CT, VX_BSG_RPORT_ELS}),
              (std::vector<uint32_t>{FC_BSG_HST_VENDOR, FC_BSG_HST_CT, FC_BSG_RPT_ELS}));
    EXPECT_EQ((Offsets{offsetof(fc_bsg_request, rqst_data.h_vendor.vendor_id),
                       offsetof(fc_bsg_request, rqst_data.h_vendor.vendor_cmd),
                       offsetof(fc_bsg_request, rqst_data.h_ct.port_id),
                       offsetof(fc_bsg_request, rqst_data.h_ct.preamble_word0),
                       offsetof(fc_bsg_request, rqst_data.h_ct.preamble_word1),
                       offsetof(fc_bsg_request, rqst_data.h_ct.preamble_word2),
                       offsetof(fc_bsg_request, rqst_data.r_els.els_code)}),
              (Offsets{offsetof(Request, rqst_data.h_vendor.vendor_id), offsetof(Request, rqst_data.h_vendor.vendor_cmd),
                       offsetof(Request, rqst_data.h_ct.port_id), offsetof(Request, rqst_data.h_ct.preamble_word0),
                       offsetof(Request, rqst_data.h_ct.preamble_word1),
                       offsetof(Request, rqst_data.h_ct.preamble_word2), offsetof(Request, rqst_data.r_els.els_code)}));
#endif
}

}  // namespace

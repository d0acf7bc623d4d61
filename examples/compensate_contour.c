/* SPDX-License-Identifier: MIT */
/* cutcomp from C: the contour of compensate_contour.cpp compensated through the C interface,
 * the tool-centre path printed and audited for gouges. Build:
 * cc compensate_contour.c $(pkg-config --cflags --libs cutcomp-c) */
#include <stdio.h>

#include <crc/crc_c.h>

int main(void) {
  const int left = CUTCOMP_SIDE_LEFT;
  cutcomp_path* contour = cutcomp_path_new();
  cutcomp_path* tool = NULL;
  cutcomp_options* options = cutcomp_options_new(2.0); /* cutter radius 2, the tool's defaults */
  cutcomp_result* result = NULL;
  cutcomp_audit_result* audit = NULL;
  cutcomp_piece piece;
  size_t i;
  int status;

  if (contour == NULL || options == NULL) {
    return 1;
  }
  cutcomp_path_add_line(contour, 0, 0, 10, 0, CUTCOMP_PHASE_ESTABLISH, left, 1);
  cutcomp_path_add_line(contour, 10, 0, 20, 0, CUTCOMP_PHASE_DOING, left, 2);
  /* A quarter circle about (20, 10), counterclockwise: the tool runs inside it. */
  cutcomp_path_add_arc(contour, 20, 0, 30, 10, 20, 10, 1, CUTCOMP_PHASE_DOING, left, 3);
  cutcomp_path_add_line(contour, 30, 10, 30, 30, CUTCOMP_PHASE_DOING, left, 4);
  cutcomp_path_add_line(contour, 30, 30, 0, 30, CUTCOMP_PHASE_DOING, left, 5);
  cutcomp_path_add_line(contour, 0, 30, -10, 20, CUTCOMP_PHASE_RETRACT, left, 6);

  status = cutcomp_compensate(contour, options, &result);
  if (status != CUTCOMP_OK) {
    printf("compensation failed (%s): %s\n", cutcomp_status_text(status),
           cutcomp_result_message(result));
    cutcomp_result_free(result);
    return 1;
  }
  printf("strategy normal, cutter radius 2:\n");
  for (i = 0; i < cutcomp_result_size(result); ++i) {
    cutcomp_result_piece(result, i, &piece);
    printf("  %lld %-8s (%9.4f, %9.4f) -> (%9.4f, %9.4f)", (long long)piece.id,
           piece.inserted ? "inserted" : "", piece.tool.from.x, piece.tool.from.y,
           piece.tool.to.x, piece.tool.to.y);
    if (piece.tool.arc) {
      printf("  arc %s about (%g, %g), radius %g", piece.tool.ccw ? "ccw" : "cw",
             piece.tool.centre.x, piece.tool.centre.y, piece.tool.radius);
    }
    printf("\n");
  }

  /* The audit takes any tool path; here the one just computed. */
  if (cutcomp_result_tool_path(result, &tool) == CUTCOMP_OK &&
      cutcomp_audit(contour, tool, 2.0, 0.005, &audit) == CUTCOMP_OK) {
    printf("gouges: %zu\n", cutcomp_audit_gouge_count(audit));
  }
  status = audit != NULL && cutcomp_audit_gouge_count(audit) == 0 ? 0 : 1;
  cutcomp_audit_free(audit);
  cutcomp_path_free(tool);
  cutcomp_result_free(result);
  cutcomp_options_free(options);
  cutcomp_path_free(contour);
  return status;
}

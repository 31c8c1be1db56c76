@ Hand-written call-frame information for rule forms that compilers rarely emit: remembered
@ states, expressions, value offsets, register rules, an undefined return address.
    .syntax unified
    .arm
    .cfi_sections .eh_frame, .debug_frame
    .text

    .globl remember_state
    .type remember_state, %function
remember_state:
    .cfi_startproc
    push {r4, r5, lr}
    .cfi_adjust_cfa_offset 12
    .cfi_rel_offset r4, 0
    .cfi_rel_offset r5, 4
    .cfi_rel_offset lr, 8
    cmp r0, #0
    .cfi_remember_state
    popeq {r4, r5, pc}
    .cfi_restore_state
    sub sp, sp, #8
    .cfi_adjust_cfa_offset 8
    mov r0, r1
    add sp, sp, #8
    .cfi_adjust_cfa_offset -8
    pop {r4, r5, pc}
    .cfi_endproc
    .size remember_state, .-remember_state

    .globl expressions
    .type expressions, %function
expressions:
    .cfi_startproc
    push {r6, r7, lr}
    @ CFA = r13 + 12 as an expression: DW_OP_breg13 12
    .cfi_escape 0x0f, 0x02, 0x7d, 0x0c
    @ r6 at the address r13 + 0: DW_CFA_expression r6, DW_OP_breg13 0
    .cfi_escape 0x10, 0x06, 0x02, 0x7d, 0x00
    @ r7 = CFA + 16 as a value: DW_CFA_val_expression r7, DW_OP_call_frame_cfa; DW_OP_plus_uconst 16
    .cfi_escape 0x16, 0x07, 0x03, 0x9c, 0x23, 0x10
    .cfi_offset lr, -4
    mov r0, r1
    @ r8 = CFA - 20: DW_CFA_val_offset_sf r8, 5 (factored by -4)
    .cfi_escape 0x15, 0x08, 0x05
    .cfi_register r9, r1
    .cfi_same_value r10
    pop {r6, r7, pc}
    .cfi_endproc
    .size expressions, .-expressions

    .globl thread_entry
    .type thread_entry, %function
thread_entry:
    .cfi_startproc
    .cfi_undefined lr
    mov r11, #0
    bl remember_state
    .cfi_endproc
    .size thread_entry, .-thread_entry

    .section .note.GNU-stack,"",%progbits
